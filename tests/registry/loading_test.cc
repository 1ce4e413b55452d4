// Loading, product resolution, provider key paths and damaged store files.
#include <algorithm>

#include "registry_fixture.h"

namespace regtest {
namespace {

using LoadingTest = RegistryTest;

// Param: false, a new user folder and an admin key; true, an existing user folder and no admin key.
class LoadingTraceTest : public RegistryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LoadingTraceTest, ExactTraceOnceAndUserFolderCreated) {
  const bool existing = GetParam();
  SetLogLevel(1);
  if (!existing) PutAdmin(Str("A", "a"));
  if (existing) MakeDirs(UserDir());
  reg.EnsureMorixRegistryIsLoaded();

  const std::string load = "MorixRegistryImpl::EnsureMorixRegistryIsLoaded() : ";
  const std::string adminDir = admin + "/", userDir = UserDir() + "/";
  std::string slashedAdmin = adminDir, slashedUser = userDir;
  for (std::string* dir : {&slashedAdmin, &slashedUser})
    std::replace(dir->begin(), dir->end(), '/', '\\');
  std::string expected =
      "MorixRegistryImpl::GetUserConfigDir() : Versioned product name is: Product12.1\n" + load +
      "Admin folder is: " + adminDir + " User folder is: " + userDir + "\n";
  if (!existing) expected += load + "User folder doesn't exist, creating...\n";
  expected +=
      load + "Calling _LoadPathsA(), admin dir:" + slashedAdmin + ", user dir:" + slashedUser +
      "\n" + load + "_LoadPathA() returned 0\n" + load +
      "Detected a single product registry format\n" + load +
      (existing ? "Error! unable to locate admin key admin\n" + load +
                      "This is not usually fatal for engines, but desktops won't be usable.\n"
                : "Success! verified that admin key admin exists\n");
  EXPECT_EQ(Log(), expected);
  EXPECT_TRUE(Exists(userDir));

  SetLogLevel(5);
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(KeyFields(), "admin|default|" + host + "|RegistrySyntax");
}

INSTANTIATE_TEST_SUITE_P(Registry, LoadingTraceTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "ExistingUserFolderNoAdminKey" : "NewUserFolder");
});

struct ProductCase {
  const char* name;
  const wchar_t* versionedName;
  const wchar_t* desktopName;
  std::string products;  // the subkeys of admin/products
  int multiple;          // SupportsMultipleApplications
  std::string product;   // in a multi-product store
};
void PrintTo(const ProductCase& c, std::ostream* os) { *os << c.name; }

class ProductTest : public RegistryTest, public ::testing::WithParamInterface<ProductCase> {};

TEST_P(ProductTest, ResolvesKeyFields) {
  const ProductCase& c = GetParam();
  const std::string& p = c.product;
  client.versionedName = c.versionedName;
  client.desktopName = c.desktopName;
  PutAdmin(Int("SupportsMultipleApplications", c.multiple) + Key("products", c.products));
  PutInstall(Key("products", Key("Product", Key("S", Str("Where", "install")))));
  reg.EnsureMorixRegistryIsLoaded();

  if (c.multiple == 0) {
    EXPECT_EQ(KeyFields(), "admin|default|" + host + "|RegistrySyntax");
  } else {
    EXPECT_EQ(KeyFields(), "admin/products/" + p + "|default/products/" + p + "|" + host +
                               "/products/" + p + "|" + p + "RegistrySyntax");
    EXPECT_TRUE(
        Logged("MorixRegistryImpl::EnsureMorixRegistryIsLoaded() : Using registry key: "
               "admin/products/" +
               p + "\n"));
  }
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"S", L"Where", L"-")), p == "Product" ? "install" : "-");
}

INSTANTIATE_TEST_SUITE_P(
    Registry, ProductTest,
    ::testing::Values(
        ProductCase{"LongestPrefix", L"Product12.1", L"", Key("Prod") + Key("Product"), 1,
                    "Product"},
        ProductCase{"LongestPrefixFirst", L"Product12.1", L"", Key("Product") + Key("Prod"), 1,
                    "Product"},
        ProductCase{"ShorterPrefix", L"Product12.1", L"", Key("Prod"), 1, "Prod"},
        ProductCase{"NoMatchStripsVersion", L"Product12.1", L"", Key("Other"), 1, "Product"},
        ProductCase{"DesktopNameWins", L"Product12.1", L"Designer", Key("Product"), 1, "Designer"},
        ProductCase{"ZeroIsSingleProduct", L"Product12.1", L"", Key("Product"), 0, ""}),
    ::testing::PrintToStringParamName());

TEST_F(LoadingTest, ProviderKeyPaths) {
  reg.EnsureMorixRegistryIsLoaded();
  struct {
    uint32_t top, provider;
    const wchar_t* section;
    std::string path;
  } const cases[] = {
      {HKCU, ProviderUser, L"a/b", "user/a/b"},
      {HKLM, ProviderUser, L"a/b", "admin/a/b"},
      {HKCU, ProviderAdmin, L"a/b", "admin/a/b"},
      {HKCU, ProviderUser, L"", "user/"},
      {HKCU, ProviderUserMachine, L"x", host + "_user/x"},
      {7, ProviderInstall, L"x", "default/x"},
      {HKCU, ProviderNone, L"x", "/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(A(reg.GetProviderKeyPath(c.top, c.section, c.provider)), c.path) << c.provider;
  }
  EXPECT_NE(Log().find("Assertion failed: !\"Invalid configuration provider\""), std::string::npos);
}

TEST_F(LoadingTest, DamagedFileLeavesTheOthersServed) {
  PutInstall(Key("K", Str("E", "install")));
  PutUserMachine(Key("K", Str("F", "um")));
  const std::string userFile = UserDir() + "/user.XML";
  std::ofstream(userFile) << "<key name=\"user\"><value name=\"E\" type=\"string\">";
  const std::string damaged = ReadFile(userFile);

  ConfigurationProvider provider;
  EXPECT_EQ(A(reg.GetRegistryString(provider, HKCU, L"K", L"E", L"")), "install");
  EXPECT_EQ(provider, ProviderInstall);
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"K", L"F", L"")), "um");
  EXPECT_NE(Log().find(userFile), std::string::npos);  // the store reports the damage

  EXPECT_FALSE(reg.WriteRegistryStringToProvider(HKCU, L"K", L"E", L"x", ProviderUser));
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_EQ(ReadFile(userFile), damaged);
}

}  // namespace
}  // namespace regtest
