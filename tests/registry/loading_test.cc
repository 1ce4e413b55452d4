// Loading, product resolution and key paths (damaged store files are the
// reliability tests'), and lookups in the three syntax files.
#include <algorithm>
#include <vector>

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

class SyntaxTest : public RegistryTest {
 protected:
  // "<result> <section>|<entry>" after the lookup, with " (no syntax)" when none was found.
  std::string Lookup(AString section, AString entry) {
    bool found = false;
    const int32_t result = reg.LookupRegistrySyntax(section, entry, &found);
    return std::to_string(result) + " " + A(section) + "|" + A(entry) +
           (found ? "" : " (no syntax)");
  }
};

TEST_F(SyntaxTest, LookupCorrectsSpellingAcrossFiles) {
  // Three spellings of one subkey, each defining another entry.
  Put(admin, "RegistrySyntax",
      Key("Net", Key("proxy", Str("Port", "")) + Key("PROXY", Str("Host", "")) +
                     Key("Proxy", Int("Timeout", 0))) +
          Key("Desktop", Key("Options", Int("Size", 0))));
  Put(admin, "CoreRegistrySyntax", Key("Desktop", Key("Options", Str("Size", ""))));
  Put(admin, "EMCoreRegistrySyntax", Int("TopLevel", 0) + Key("Legacy", Int("Flag", 0)));
  EXPECT_EQ(Lookup(L"Net/Proxy", L"host"), "2 Net/PROXY|Host");
  EXPECT_EQ(Lookup(L"net\\proxy", L"timeout"), "4 Net/Proxy|Timeout");
  EXPECT_EQ(Lookup(L"nEt", L""), "-1 Net|");
  EXPECT_EQ(Lookup(L"", L""), "-1 |");
  EXPECT_EQ(Lookup(L"Desktop/Options", L"Size"), "4 Desktop/Options|Size");  // first file decides
  EXPECT_EQ(Lookup(L"legacy", L"flag"), "4 Legacy|Flag");
  EXPECT_EQ(Lookup(L"", L"toplevel"), "4 |TopLevel");
  EXPECT_EQ(Lookup(L"net\\proxy", L"nothing"), "0 net\\proxy|nothing");  // left as given
  for (const wchar_t* path : {L"net\\proxy\\HOST", L"Net/Proxy/", L"toplevel"}) {
    EXPECT_TRUE(reg.IsRegistryEntryDefined(path)) << A(path);
  }
  for (const wchar_t* path : {L"Net/Nope/", L"Net/Proxy/Nope", L"Nope"}) {
    EXPECT_FALSE(reg.IsRegistryEntryDefined(path)) << A(path);
  }
}

TEST_F(SyntaxTest, NoSyntaxFilesDefineEverything) {
  EXPECT_EQ(Lookup(L"A/B", L"C"), "0 A/B|C (no syntax)");
  EXPECT_TRUE(reg.IsRegistryEntryDefined(L"A/B/C"));
  std::vector<RegistrySyntaxEntry> entries;
  reg.GetRegistrySyntaxEntries(entries);
  EXPECT_TRUE(entries.empty());
}

TEST_F(SyntaxTest, EntriesDepthFirstValuesBeforeSubkeys) {
  Put(admin, "RegistrySyntax", Key("A", Key("B", Str("Y", "text")) + Int("X", 3)));
  Put(admin, "CoreRegistrySyntax", Key("C", Str("Z", "") + Int("W", -4)));
  reg.EnsureMorixRegistryIsLoaded();  // the listing does not load the store itself
  std::vector<RegistrySyntaxEntry> entries(1);
  entries[0].path = L"kept";
  reg.GetRegistrySyntaxEntries(entries);
  std::string records;
  for (const RegistrySyntaxEntry& e : entries) {
    records += std::to_string(e.valueType) + " " + A(e.path) + " '" + A(e.stringValue) + "' " +
               std::to_string(e.intValue) + "\n";
  }
  EXPECT_EQ(records, "0 kept '' 0\n0 A/X '' 3\n1 A/B/Y 'text' 0\n1 C/Z '' 0\n0 C/W '' -4\n");
}

}  // namespace
}  // namespace regtest
