#include "vxcore/registry_access_vx.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "CoreInterfaces/talven_application.h"
#include "test_util.h"
#include "vxcore/vxcore_init.h"

namespace {

using Registry = RegistryAccessVx;
using vxtest::ScopedEnv;
using vxtest::WriteFile;

class TestApplication : public ITalvenApplication {
 public:
  void* GetInterfaceA() override { return nullptr; }
  void NotifyA() override {}
  void* GetInterfaceB() override { return nullptr; }
  AString GetInstallDirectory() const override { return installDirectory; }
  AString GetRegistryFileName() const override { return L"prod"; }

  AString installDirectory;
};

AString Wide(const std::string& bytes) { return AString::FromBytes(bytes); }

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    application_.installDirectory = Wide(dir_.Path() + "/inst");
    InitVxcoreDLL(&application_);
  }
  ~RegistryTest() override { InitVxcoreDLL(nullptr); }

  static std::string Path(int provider) { return Registry::GetRegistryFilePath(provider).ASCII(); }
  static std::string PersonalDir() {
    AString folder;
    return Registry::GetPersonalDirPath(folder) ? folder.ASCII() : "(false)";
  }
  static bool Write(int provider, const std::string& section, const std::string& entry,
                    const std::string& value) {
    return Registry::WriteRegistryString(provider, Wide(section), Wide(entry), Wide(value));
  }
  // The stored value, or "!" and the default "d" when there is none.
  static std::string Read(int provider, const std::string& section, const std::string& entry) {
    bool found = false;
    const AString value =
        Registry::GetRegistryString(found, provider, Wide(section), Wide(entry), L"d");
    return (found ? "" : "!") + value.ASCII();
  }
  // "<provider>:<value>" of a precedence search for entry "e".
  static std::string Search(bool emptyMeansAbsent) {
    int provider = -1;
    const AString value =
        Registry::GetRegistryStringUsePrecedence(provider, L"", L"e", L"d", emptyMeansAbsent);
    return std::to_string(provider) + ":" + value.ASCII();
  }

  vxtest::TempDir dir_;
  std::string home_ = dir_.Path() + "/home";
  ScopedEnv homeEnv_{"HOME", home_};
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
  TestApplication application_;
};

TEST_F(RegistryTest, PersonalFolderFollowsUserDirs) {
  // {user-dirs.dirs content (null: no file), documents folder relative to HOME or absolute}
  const std::pair<const char*, std::string> rows[] = {
      {nullptr, home_ + "/Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n", home_ + "/Docs"},
      {"# c\n  XDG_DOCUMENTS_DIR = \"/abs/My \\\"Docs\\\"\"\r\n", "/abs/My \"Docs\""},
      {"XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"", home_ + "/b"},
      {"XDG_DOCUMENTS_DIR=\"relative\"\nXDG_DOCUMENTS_DIRS=\"/x\"\n#XDG_DOCUMENTS_DIR=\"/x\"\n"
       "XDG_DOCUMENTS_DIR=\"$HOMEX/y\"\nXDG_DOCUMENTS_DIR=\"/unterminated\n",
       home_ + "/Documents"}};
  for (const auto& [userDirs, expected] : rows) {
    std::filesystem::remove(home_ + "/.config/user-dirs.dirs");
    if (userDirs != nullptr) WriteFile(home_ + "/.config/user-dirs.dirs", userDirs);
    EXPECT_EQ(PersonalDir(), expected) << (userDirs ? userDirs : "(no file)");
  }
  ScopedEnv configHome("XDG_CONFIG_HOME", dir_.Path() + "/xdg");
  WriteFile(dir_.Path() + "/xdg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Elsewhere\"\n");
  EXPECT_EQ(PersonalDir(), home_ + "/Elsewhere");
  ScopedEnv emptyHome("HOME", "");
  EXPECT_EQ(PersonalDir(), "(false)");
  ScopedEnv noHome("HOME", std::nullopt);
  EXPECT_EQ(PersonalDir(), "(false)");
}

TEST_F(RegistryTest, ProvidersUseTheDocumentedFiles) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  const std::string install = dir_.Path() + "/inst/config/vxcore/prod";
  const std::string user = home_ + "/Documents/Talven/vxcore/prod";
  EXPECT_EQ(Path(0), install + ".reg");
  EXPECT_EQ(Path(1), install + "_" + host + ".reg");
  EXPECT_EQ(Path(2), user + ".reg");
  EXPECT_EQ(Path(3), user + "_" + host + ".reg");
  EXPECT_EQ(Path(4), "");
}

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  const std::pair<std::string, std::string> names[] = {
      {"", "TempDirectory"}, {"[odd]=section", "#entry"}, {"multi\nline", "a=b"}, {"s", ""}};
  const std::string values[] = {"plain",       "",        "line1\nline2\r\n", "a=b",
                                "[section]",   "#c",      "back\\slash\\",    "\x01\x7F\xFF",
                                "caf\xC3\xA9", " padded "};
  for (int provider = 0; provider < 4; ++provider) {
    for (const auto& [section, entry] : names) {
      for (const std::string& value : values) {
        ASSERT_TRUE(Write(provider, section, entry, value));
        EXPECT_EQ(Read(provider, section, entry), value) << provider << section << entry;
      }
    }
  }
  EXPECT_EQ(Read(0, "", "TEMPDIRECTORY"), " padded ");
  EXPECT_TRUE(Registry::WriteRegistryString(0, L"", L"wide", L"\x20AC"));
  EXPECT_EQ(Read(0, "", "wide"), "?");
  // No temporary files are left beside the registry files.
  for (const auto& file :
       std::filesystem::directory_iterator(dir_.Path() + "/inst/config/vxcore")) {
    EXPECT_EQ(file.path().extension(), ".reg") << file.path();
  }
}

TEST_F(RegistryTest, PrecedenceSearchesUserMachineFirst) {
  EXPECT_EQ(Search(true), "4:d");
  ASSERT_TRUE(Write(0, "", "e", "install") && Write(1, "", "e", "install_machine"));
  EXPECT_EQ(Search(true), "1:install_machine");
  ASSERT_TRUE(Write(2, "", "e", "user") && Write(3, "", "e", ""));
  EXPECT_EQ(Search(true), "2:user");
  EXPECT_EQ(Search(false), "3:");
  EXPECT_EQ(Read(3, "", "e"), "");
  EXPECT_EQ(Read(2, "", "missing"), "!d");
}

TEST_F(RegistryTest, WritesFailWithoutAnApplicationOrAUsableFolder) {
  ASSERT_TRUE(Write(2, "", "e", "v"));
  InitVxcoreDLL(nullptr);
  EXPECT_FALSE(Write(2, "", "e", "w"));
  EXPECT_EQ(Read(2, "", "e"), "!d");
  EXPECT_EQ(Search(true), "4:d");

  InitVxcoreDLL(&application_);
  application_.installDirectory = L"";
  EXPECT_FALSE(Write(0, "", "e", "v"));
  application_.installDirectory = Wide(dir_.Path() + "/blocker");
  WriteFile(dir_.Path() + "/blocker", "a file where a folder should be");
  EXPECT_FALSE(Write(1, "", "e", "v"));
  ScopedEnv noHome("HOME", std::nullopt);
  EXPECT_FALSE(Write(3, "", "e", "v"));
}

TEST_F(RegistryTest, DamagedFilesAreReadButNeverOverwritten) {
  const std::string damaged = "[s]\r\ngood=1\r\nno separator\nbad=\\q\n";
  WriteFile(Path(0), damaged);
  EXPECT_EQ(Read(0, "S", "GOOD"), "1");
  EXPECT_FALSE(Write(0, "s", "good", "2"));
  EXPECT_EQ(vxtest::ReadFile(Path(0)), damaged);
}

}  // namespace
