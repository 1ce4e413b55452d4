// Reads: the level keys every command reads through, and the registry's own
// reads by provider and by precedence.
#include "registry/level_keys.h"
#include "registry_fixture.h"

namespace regtest {
namespace {

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

  LevelKeys adminKeys;
  adminKeys.Open(reg, HKLM, "K", LevelKeys::PrecedenceOf(HKLM));
  EXPECT_EQ(Shown(reg.ReadSetting(adminKeys, "N")), "50@admin");
  EXPECT_EQ(Shown(reg.ReadSetting(adminKeys, "Typed")), "none");

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
  EXPECT_TRUE(Logged(info + "GetRegistryString: top=HKLM, section='K', entry='InstallOnly', "
                            "value='dflt', provider=Not Found or Default.\n"));
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

}  // namespace
}  // namespace regtest
