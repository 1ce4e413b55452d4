// The registry over a throw-away installation and home folder per test, store
// files written as XML, and the debug log captured in a file: loading, product
// resolution and key paths (damaged store files are the reliability tests'),
// the syntax files, the level keys every command reads through, the
// registry's own reads, changes to keys and entries, subkey names (the syntax
// files' names are listed by the CLI tests), and writes checked against the
// value in force; and Export's document writer, which in walk order writes as
// values come, and must give what the tree it replaces gives or say that it
// cannot.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "registry/level_keys.h"
#include "registry/morix_registry_impl.h"
#include "registry/settings_document.h"
#include "support/files.h"
#include "vxcore/tal_debug.h"

namespace regtest {
namespace {

using testsupport::Int;
using testsupport::Key;
using testsupport::ReadFile;
using testsupport::Str;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }
std::string A(const AString& text) { return text.ASCII(); }

struct TestClient : IMorixRegistryClient {
  bool SetClientFlag(bool) override { return true; }
  AString GetInstallDirOverride() override { return installDir; }
  AString GetVersionedProductName() override { return L"Product12.1"; }
  AString GetDesktopProductName() override { return AString(); }
  AString installDir;
};

// The store loads once per process, so SetUp fails a second test in one
// process; ctest runs one per process.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int testsInThisProcess = 0;
    ASSERT_EQ(++testsInThisProcess, 1) << "one test per process: run the suite through ctest";
    std::filesystem::create_directories(admin);
    host = A(MorixRegistryImpl::GetHostName());
    client.installDir = AString((root + "/inst").c_str());
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("TALVEN_FORCE_REGISTRY_WRITES");
    SetLogLevel(5);
  }

  void TearDown() override {
    ::unsetenv("TALVEN_DEBUG_FILE");
    my_tal_debug_data.ReloadFromEnvironment();  // closes the log file
  }

  void SetLogLevel(int level) {
    ::setenv("TALVEN_DEBUG_LEVEL", std::to_string(level).c_str(), 1);
    ::setenv("TALVEN_DEBUG_FILE", (root + "/log").c_str(), 1);
    my_tal_debug_data.ReloadFromEnvironment();
  }

  std::string UserDir() const { return home + "/Documents/Talven/Product12.1/config"; }
  std::string UserMachineFile() const { return UserDir() + "/" + host + "_user.XML"; }

  static constexpr auto Put = &testsupport::WriteStoreFile;
  void PutAdmin(const std::string& body) { Put(admin, "admin", body); }
  void PutInstall(const std::string& body) { Put(admin, "default", body); }
  void PutUser(const std::string& body) { Put(UserDir(), "user", body); }
  void PutUserMachine(const std::string& body) { Put(UserDir(), host + "_user", body); }

  std::string KeyFields() const {
    return A(reg.adminKey + L"|" + reg.installKey + L"|" + reg.installMachineKey + L"|" +
             reg.syntaxKey);
  }
  std::string Log() const { return ReadFile(root + "/log"); }
  // `text` was logged from the start of a line.
  ::testing::AssertionResult Logged(const std::string& text) const {
    const std::string log = Log();
    if (("\n" + log).find("\n" + text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not logged: " << text << "\nlog:\n" << log;
  }

  testsupport::TempDir temp;
  std::string root = temp.path, admin = root + "/inst/config", home = root + "/home", host;
  TestClient client;
  MorixRegistryImpl reg{&client};
};

using LoadingTest = RegistryTest;
const std::string kLoad = "MorixRegistryImpl::EnsureMorixRegistryIsLoaded() : ";

// The load's trace line for line is in every recorded debug log of the CLI suite.
TEST_F(LoadingTest, LoadsOnceAndCreatesTheUserFolder) {
  PutAdmin(Str("A", "a"));
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_TRUE(Logged(kLoad + "User folder doesn't exist, creating...\n" + kLoad + "Calling"));
  EXPECT_TRUE(Exists(UserDir()));
  const std::string once = Log();
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_EQ(Log(), once);
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
  for (const auto& [path, defined] :
       {std::pair{L"net\\proxy\\HOST", true}, {L"Net/Proxy/", true}, {L"toplevel", true},
        {L"Net/Nope/", false}, {L"Net/Proxy/Nope", false}, {L"Nope", false}}) {
    EXPECT_EQ(reg.IsRegistryEntryDefined(path), defined) << A(path);
  }
}

// No store file at all: no admin key, and no syntax, which defines everything.
TEST_F(SyntaxTest, AnEmptyStoreHasProviderKeyPathsAndDefinesEverything) {
  reg.EnsureMorixRegistryIsLoaded();
  EXPECT_TRUE(Logged(kLoad + "Error! unable to locate admin key admin\n"));
  // HKLM means admin whatever the provider; any other top means HKCU.
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKLM, L"x", ProviderUser)), "admin/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKCU, L"x", ProviderAdmin)), "admin/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(7, L"x", ProviderInstall)), "default/x");
  EXPECT_EQ(A(reg.GetProviderKeyPath(HKCU, L"x", ProviderNone)), "/x");
  EXPECT_TRUE(Logged("Assertion failed: !\"Invalid configuration provider\""));
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

using LevelKeysTest = RegistryTest;

std::string Shown(const LevelValue& value) {
  if (value.provider == ProviderNone) return "none";
  const std::string text =
      value.isNumber ? std::to_string(value.number) : "'" + std::string(value.text) + "'";
  return text + "@" + A(MorixRegistryImpl::GetProviderName(value.provider));
}

TEST_F(LevelKeysTest, ReadsByPrecedenceAndAtEachLevelWhateverTheFilesHold) {
  SetLogLevel(1);
  PutAdmin(Key("K", Str("All", "admin") + Int("N", 50)));
  PutInstall(Key("K", Str("All", "i") + Int("Typed", 5) + Int("Neg", -1) + Str("Long", "i-long") +
                          Key("a", Key("b", Str("Deep", "ab"))) +
                          "<value name=\"Cut\" type=\"string\" encoding=\"hex\">61006200</value>") +
             Key("k", Str("All", "lower")));
  // The longest text a read takes is 999,999 bytes.
  PutUser(Key("K", Str("Typed", "7") + Str("UserOnly", "u") +
                       Str("Long", std::string(1000000, 'l')) +
                       Str("Longest", std::string(999999, 'l'))));
  // A damaged file at user_machine and one that cannot be read at
  // install_machine: neither level answers, and nothing else changes.
  std::ofstream(UserMachineFile()) << "<key name=\"" << host << "_user\"><key name=\"K\">";
  std::filesystem::create_directories(admin + "/" + host + ".XML");

  // {section, entry, ReadSetting without a level, ReadSettingAt install}
  const std::tuple<const char*, const char*, std::string, std::string> cases[] = {
      {"K", "All", "'i'@install", "'i'@install"},
      {"K", "Typed", "'7'@user", "5@install"},  // a string shadows an integer below it
      {"K", "UserOnly", "'u'@user", "none"},
      {"K", "Neg", "-1@install", "-1@install"},
      {"K", "N", "none", "none"},                             // admin only when named
      {"K", "Cut", "'a'@install", "'a'@install"},             // read up to its NUL
      {"K", "Long", "'i-long'@install", "'i-long'@install"},  // too long at user: passed by
      {"K", "Longest", "'" + std::string(999999, 'l') + "'@user", "none"},
      {"k", "All", "'lower'@install", "'lower'@install"},  // letter case is exact here
      {"K/a/b", "Deep", "'ab'@install", "'ab'@install"},   // a path is split at separators
      {"K\\a//b", "Deep", "'ab'@install", "'ab'@install"},
      {"Missing", "All", "none", "none"},
  };
  for (const auto& [section, entry, precedence, install] : cases) {
    LevelKeys keys;
    keys.Open(reg, HKCU, section, LevelKeys::PrecedenceOf(HKCU));
    EXPECT_EQ(Shown(reg.ReadSetting(keys, entry)), precedence) << section << "/" << entry;
    EXPECT_EQ(Shown(reg.ReadSettingAt(keys, ProviderInstall, entry)), install)
        << section << "/" << entry;
  }

  // A child followed by its name reaches what opening its path reaches, a
  // name holding separators included: it is split as a path is.
  LevelKeys root, k, child, opened;
  root.Open(reg, HKCU, "", LevelKeys::PrecedenceOf(HKCU));
  k.OpenChild(root, "K");
  for (const char* name : {"a/b", "a", "Missing"}) {
    child.OpenChild(k, name);
    opened.Open(reg, HKCU, std::string("K/") + name, LevelKeys::PrecedenceOf(HKCU));
    EXPECT_EQ(child.section(), opened.section());
    for (ConfigurationProvider level : kProviderPrecedence) {
      EXPECT_EQ(child.Exists(level), opened.Exists(level)) << name << " at " << level;
    }
  }
  child.OpenChild(k, "a/b");
  EXPECT_EQ(Shown(reg.ReadSetting(child, "Deep")), "'ab'@install");
}

using ReadTest = RegistryTest;

TEST_F(ReadTest, PrecedenceTypesAndKeys) {
  PutAdmin(Key("K", Str("All", "admin") + Int("N", 50)) + Key("AdminKey"));
  PutInstall(Key("K", Str("All", "i") + Str("InstallOnly", "i") + Str("IMAndInstall", "i") +
                          Int("Typed", 5) + Int("Neg", -1)) +
             Key("InstallKey"));
  Put(admin, host, Key("K", Str("All", "im") + Str("IMAndInstall", "im")));
  PutUser(Key("K", Str("All", "user") + Str("Typed", "7")));
  PutUserMachine(Key("K", Str("All", "um")));
  // "value@provider", and whether DoesRegistryValueExist agrees; the CLI tests cover the
  // plain user and install levels.
  auto read = [&](uint32_t top, const wchar_t* entry) {
    ConfigurationProvider provider = ProviderAdmin;
    const AString value = reg.GetRegistryString(provider, top, L"K", entry, L"dflt");
    const bool exists = reg.DoesRegistryValueExist(top, L"K", entry);
    return A(value + L"@" + MorixRegistryImpl::GetProviderName(provider)) +
           (exists == (provider != ProviderNone) ? "" : " (exists disagrees)");
  };
  EXPECT_EQ(read(HKCU, L"IMAndInstall"), "im@install_machine");
  EXPECT_EQ(read(HKLM, L"All"), "admin@admin");
  EXPECT_EQ(read(HKLM, L"InstallOnly"), "dflt@Not Found or Default");
  EXPECT_EQ(read(7, L"All"), "um@user_machine");  // any top but HKLM reads like HKCU
  const std::string info = "Info: MorixRegistry ";
  EXPECT_TRUE(Logged(info + "DoesRegistryValueExist: result=true, top=HKCU, section='K', "
                            "entry='IMAndInstall', provider=install_machine.\n"));

  ConfigurationProvider provider;
  // user holds "Typed" as a string: an integer read passes it by.
  EXPECT_EQ(reg.GetRegistryInt(provider, HKCU, L"K", L"Typed", 99), 5u);
  EXPECT_EQ(provider, ProviderInstall);
  EXPECT_EQ(reg.GetRegistryInt(HKLM, L"K", L"N", 99), 50u);
  EXPECT_EQ(reg.GetRegistryInt(HKCU, L"K", L"Neg", 0), 4294967295u);

  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKCU, L"InstallKey"));
  EXPECT_TRUE(Logged(info + "DoesRegistryKeyExist: result=true, top=HKCU, "
                            "section='InstallKey', provider=install.\n"));
  EXPECT_FALSE(reg.DoesRegistryKeyExist(HKCU, L"AdminKey"));
  EXPECT_TRUE(reg.DoesRegistryKeyExist(HKLM, L"AdminKey"));
  // Reads of a missing key create none.
  EXPECT_EQ(A(reg.GetRegistryString(HKCU, L"Ghost", L"E", L"d")), "d");
  EXPECT_FALSE(reg.DoesRegistryKeyExistInProvider(HKCU, L"Ghost", ProviderUserMachine));
}

using KeysTest = RegistryTest;
using Names = std::vector<AString>;

// Only HKCU keys change: the admin side is refused before the store loads.
TEST_F(KeysTest, AdminSideIsRefusedBeforeLoadingAndUserSideCreatesAndDeletes) {
  PutAdmin(Key("K", Str("A", "a")));
  PutUserMachine(Key("K", Key("Sub", Key("Deep", Str("X", "x")))) +
                 Key("K3", Str("E", "e") + Str("F", "f")));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");
  EXPECT_FALSE(reg.CreateRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(HKLM, L"K"));
  EXPECT_FALSE(reg.DeleteRegistryKey(7, L"K", ProviderInstall));  // only HKCU may change
  EXPECT_FALSE(reg.DeleteRegistryEntry(HKLM, L"K", L"A", ProviderAdmin));
  // The refusals and nothing else: the store was not even loaded.
  EXPECT_EQ(Log(),
            "Error: MorixRegistry CreateRegistryKey: Cannot create key in admin file; top=HKLM, "
            "section='K'.\n"
            "Error: MorixRegistry DeleteRegistryKey: Key not deleted from admin file; top=HKLM, "
            "section='K'.\n"
            "Error: MorixRegistry DeleteRegistryKey: Key not deleted from admin file; "
            "top=Unknown, section='K'.\n"
            "Error: MorixRegistry DeleteRegistryEntry: Entry not deleted from admin file;\n"
            "top=HKLM, section='K', entry='A'.\n");
  EXPECT_EQ(A(reg.GetRegistryString(HKLM, L"K", L"A", L"")), "a");

  // What a deletion logs is in the CLI suite's recorded debug logs.
  EXPECT_TRUE(reg.DeleteRegistryKey(HKCU, L"K"));
  EXPECT_TRUE(reg.CreateRegistryKey(HKCU, L"Created"));
  // A missing section is created first, and stays though there is no value to delete.
  EXPECT_FALSE(reg.DeleteRegistryEntry(HKCU, L"New", L"E"));
  EXPECT_TRUE(
      Logged("Error: MorixRegistry DeleteRegistryKey: Error deleting key from "
             "user_machine;\ntop=HKCU, section='New', entry='E'.\n"));
  EXPECT_TRUE(reg.DeleteRegistryEntry(HKCU, L"K3", L"E"));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_EQ(ReadFile(admin + "/admin.XML"), adminBytes);
  EXPECT_EQ(ReadFile(UserMachineFile()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"" + host + "_user\">\n" +
                "  <key name=\"K3\">\n    <value name=\"F\" type=\"string\">f</value>\n  </key>\n"
                "  <key name=\"Created\"/>\n  <key name=\"New\"/>\n</key>\n");
}

TEST_F(KeysTest, SubkeyNamesMergeSortedOnceAdminInStoreOrder) {
  PutUserMachine(Key("K", Key("b") + Key("A")));
  PutUser(Key("K", Key("a") + Key("B") + Key("b")) + Key("Empty"));
  PutInstall(Key("K", Key("C")));
  PutAdmin(Key("K", Key("z") + Key("y")));
  Names names = {L"stale"};
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"K"));
  EXPECT_EQ(names, (Names{L"A", L"B", L"C", L"a", L"b"}));
  EXPECT_TRUE(
      Logged("Info: MorixRegistry GetSubkeyNames(): top=HKCU, section='K';\n"
             "Names:\nA\nB\nC\na\nb\n\n"));
  EXPECT_TRUE(reg.GetSubkeyNames(names, HKLM, L"K"));
  EXPECT_EQ(names, (Names{L"z", L"y"}));

  EXPECT_TRUE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderUser));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(reg.GetSubkeyNames(names, HKCU, L"Empty", ProviderInstall));
}

using WriteTest = RegistryTest;

const std::string kInfo = "Info: MorixRegistry WriteRegistryString: ";
const std::string kInfoInt = "Info: MorixRegistry WriteRegistryInt: ";
const std::string kUnchanged = "Value not written because it is not changed;\ntop=";

TEST_F(WriteTest, OnlyChangesAreWrittenIntoUserMachineAndAdminIsRefused) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "", 1);  // empty: not forced
  PutAdmin(Key("K", Str("A", "old")));
  PutInstall(Key("K", Str("E", "v") + Int("N", -5)));
  const std::string adminBytes = ReadFile(admin + "/admin.XML");
  const std::string installBytes = ReadFile(admin + "/default.XML");

  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"v"));
  EXPECT_TRUE(
      Logged(kInfo + kUnchanged + "HKCU, section='K', entry='E', value='v', provider=install.\n"));
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"K", L"N", -5));
  EXPECT_TRUE(Logged(kInfoInt + kUnchanged +
                     "HKCU, section='K', entry='N', value=-5, provider=install.\n"));
  // The change check comes first: an unchanged admin value is no refusal.
  EXPECT_TRUE(reg.WriteRegistryString(HKLM, L"K", L"A", L"old"));
  EXPECT_FALSE(reg.WriteRegistryString(HKLM, L"K", L"A", L"new"));
  EXPECT_TRUE(
      Logged("Error: MorixRegistry WriteRegistryString: Value not written to admin file;\n"
             "top=HKLM, section='K', entry='A', value='new'.\n"));
  EXPECT_FALSE(reg.WriteRegistryInt(HKLM, L"K", L"I", 3));
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_EQ(ReadFile(admin + "/admin.XML"), adminBytes);

  const std::string toUserMachine = "Value written to user_machine;\ntop=HKCU, section=";
  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"V"));  // compared case-sensitively
  EXPECT_TRUE(Logged(kInfo + toUserMachine +
                     "'K', entry='E', value='V'\nprevious value='v', provider=install.\n"));
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"K", L"N", 8));
  EXPECT_TRUE(Logged(kInfoInt + toUserMachine +
                     "'K', entry='N', value=8\nprevious value=-5, provider=install.\n"));
  // Nothing in force: even the default values are written (checked in the file below).
  EXPECT_TRUE(reg.WriteRegistryInt(HKCU, L"New/Sub", L"Zero", 0));
  EXPECT_TRUE(reg.ClearRegistryEntry(HKCU, L"New", L"Cleared"));
  EXPECT_TRUE(reg.WriteRegistryStringToProvider(HKCU, L"K", L"A", L"direct", ProviderAdmin));

  EXPECT_TRUE(reg.CommitRegistryChanges());
  const std::string saved = ReadFile(UserMachineFile());
  for (const std::string& value : {Str("E", "V"), Int("N", 8), Int("Zero", 0),
                                   std::string("<value name=\"Cleared\" type=\"string\"/>")}) {
    EXPECT_NE(saved.find(value), std::string::npos) << value << "\n" << saved;
  }
  EXPECT_EQ(saved.find("direct"), std::string::npos);
  EXPECT_EQ(ReadFile(admin + "/default.XML"), installBytes);
  EXPECT_NE(ReadFile(admin + "/admin.XML").find(Str("A", "direct")), std::string::npos);
}

TEST_F(WriteTest, AnyNonEmptyForceSettingWritesIntoTheSyntaxKey) {
  ::setenv("TALVEN_FORCE_REGISTRY_WRITES", "0", 1);
  PutAdmin(Key("K"));
  PutInstall(Key("K", Str("E", "v")));
  EXPECT_TRUE(reg.WriteRegistryString(HKCU, L"K", L"E", L"v"));
  EXPECT_TRUE(Logged(kInfo + "Value written to RegistrySyntax;\ntop=HKCU, section='K', "
                             "entry='E', value='v'\nprevious value='v', provider=install.\n"));
  EXPECT_TRUE(reg.CommitRegistryChanges());
  EXPECT_FALSE(Exists(UserMachineFile()));
  EXPECT_NE(ReadFile(admin + "/RegistrySyntax.XML").find(Str("E", "v")), std::string::npos);
}

// A string or an integer value.
struct Added {
  std::string section, name;
  std::variant<std::string, int32_t> value;
};
Added S(std::string section, std::string name, std::string text) { return {section, name, text}; }
Added I(std::string section, std::string name, int32_t number) { return {section, name, number}; }

// The document, or "(out of order)" when the writer gave up.
std::string Write(const std::vector<Added>& values, SettingsDocumentWriter::Order order) {
  SettingsDocumentWriter writer("P", order);
  for (const auto& [section, name, value] : values) {
    if (const int32_t* number = std::get_if<int32_t>(&value)) {
      writer.AddInteger(section, name, *number);
    } else {
      writer.AddString(section, name, std::get<std::string>(value));
    }
  }
  if (!writer.InOrder()) return "(out of order)";
  std::string document;
  for (std::string_view piece : writer.Finish()) document.append(piece);
  return document;
}

TEST(SettingsDocumentWriter, WritesInWalkOrderAsTheTreeDoesOrSaysItCannot) {
  constexpr auto kWalk = SettingsDocumentWriter::Order::kWalk;
  constexpr auto kAny = SettingsDocumentWriter::Order::kAny;
  const std::pair<std::vector<Added>, bool> cases[] = {
      // {values, in walk order}
      {{}, true},
      {{S("", "top", "t"), S("A", "a", "<&>\""), I("A/B/C", "deep", -7), S("A/B/D", "e", ""),
        S("B", "x\xff", "\x01"), I("B", "y", 1), S("Bz", "tab\tname", "t")},
       true},
      // One key, three spellings.
      {{S("A//B", "a", "1"), S("A/B", "b", "2"), S("A\\B", "c", "3")}, true},
      {{S("A/B", "x", "1"), S("A", "y", "2")}, false},  // a value after its key's subkeys
      {{S("A", "x", "1"), S("B", "y", "2"), S("A", "z", "3")},
       false},                                        // a key closed, then reached
      {{S("B", "x", "1"), S("A", "y", "2")}, false},  // siblings descending
      {{S("A", "x", "1"), S("A", "x", "2")}, false},  // a name repeated
      {{S("A", "y", "1"), S("A", "x", "2")}, false},  // names descending
      {{S("A/B", "x", "1"), S("A/B/C", "y", "2"), S("A/B", "z", "3")}, false},
  };
  for (const auto& [values, inOrder] : cases) {
    SCOPED_TRACE(testing::PrintToString(values.size()) + " values, first " +
                 (values.empty() ? "none" : values[0].section + "|" + values[0].name));
    const std::string tree = Write(values, kAny);
    EXPECT_EQ(inOrder ? tree : "(out of order)", Write(values, kWalk));
  }
  // The tree's own layout is fixed by the store writer's and Export's tests.
  EXPECT_EQ(Write({}, kWalk), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"P\"/>\n");
}

}  // namespace
}  // namespace regtest
