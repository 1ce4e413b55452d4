// The one read every command shares: the keys of a section at each level,
// opened from the root or followed from a parent, and the value a read by
// precedence or at one level takes from them.
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

  struct Case {
    const char* section;
    const char* entry;
    std::string precedence;  // ReadSetting without a level
    std::string install;     // ReadSettingAt install
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    LevelKeys keys;
    keys.Open(reg, HKCU, c.section, LevelKeys::PrecedenceOf(HKCU));
    EXPECT_EQ(Shown(reg.ReadSetting(keys, c.entry)), c.precedence) << c.section << "/" << c.entry;
    EXPECT_EQ(Shown(reg.ReadSettingAt(keys, ProviderInstall, c.entry)), c.install)
        << c.section << "/" << c.entry;
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

}  // namespace
}  // namespace regtest
