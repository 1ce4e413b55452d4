// Loading, product resolution and provider key paths. Damaged store files are
// covered end to end by the reliability tests.
#include <algorithm>

#include "registry_fixture.h"

namespace regtest {
namespace {

using LoadingTest = RegistryTest;
const std::string kLoad = "MorixRegistryImpl::EnsureMorixRegistryIsLoaded() : ";

TEST_F(LoadingTest, ExactTraceOnceAndUserFolderCreated) {
  SetLogLevel(1);
  PutAdmin(Str("A", "a"));
  reg.EnsureMorixRegistryIsLoaded();

  const std::string adminDir = admin + "/", userDir = UserDir() + "/";
  auto slashed = [](std::string dir) {
    std::replace(dir.begin(), dir.end(), '/', '\\');
    return dir;
  };
  const std::string expected =
      "MorixRegistryImpl::GetUserConfigDir() : Versioned product name is: Product12.1\n" + kLoad +
      "Admin folder is: " + adminDir + " User folder is: " + userDir + "\n" + kLoad +
      "User folder doesn't exist, creating...\n" + kLoad +
      "Calling _LoadPathsA(), admin dir:" + slashed(adminDir) + ", user dir:" + slashed(userDir) +
      "\n" + kLoad + "_LoadPathA() returned 0\n" + kLoad +
      "Detected a single product registry format\n" + kLoad +
      "Success! verified that admin key admin exists\n";
  EXPECT_EQ(Log(), expected);
  EXPECT_TRUE(Exists(userDir));

  SetLogLevel(5);
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(KeyFields(), "admin|default|" + host + "|RegistrySyntax");
}

// {subkeys of admin/products, the product chosen}
class ProductTest : public RegistryTest,
                    public ::testing::WithParamInterface<std::pair<std::string, std::string>> {};

TEST_P(ProductTest, ResolvesKeyFields) {
  const auto& [products, p] = GetParam();
  PutAdmin(Int("SupportsMultipleApplications", 1) + Key("products", products));
  PutInstall(Key("products", Key("Product", Key("S", Str("Where", "install")))));
  reg.EnsureMorixRegistryIsLoaded();

  EXPECT_EQ(KeyFields(), "admin/products/" + p + "|default/products/" + p + "|" + host +
                             "/products/" + p + "|" + p + "RegistrySyntax");
  EXPECT_TRUE(Logged(kLoad + "Using registry key: admin/products/" + p + "\n"));
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"S", L"Where", L"-")), p == "Product" ? "install" : "-");
}

// The longest listed prefix of Product12.1 wins wherever it is listed; with none, the name
// without its version.
INSTANTIATE_TEST_SUITE_P(Registry, ProductTest,
                         ::testing::Values(std::pair{Key("Prod") + Key("Product1") + Key("Pr"),
                                                     "Product1"},
                                           std::pair{Key("Other"), "Product"}));

TEST_F(LoadingTest, ProviderKeyPathsWithoutAnAdminKey) {
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_TRUE(Logged(kLoad + "Error! unable to locate admin key admin\n"));
  // HKLM means admin whatever the provider; any other top means HKCU.
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKLM, L"x", ProviderUser)), "admin/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKCU, L"x", ProviderAdmin)), "admin/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(7, L"x", ProviderInstall)), "default/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKCU, L"x", ProviderNone)), "/x");
  EXPECT_TRUE(Logged("Assertion failed: !\"Invalid configuration provider\""));
}

}  // namespace
}  // namespace regtest
