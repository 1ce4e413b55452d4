#include "vxcore/registry_access_vx.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "CoreInterfaces/talven_application.h"
#include "test_util.h"
#include "vxcore/vxcore_init.h"

namespace {

using Registry = RegistryAccessVx;
using vxtest::ScopedEnv;
using vxtest::WriteFile;
constexpr auto Write = &Registry::WriteRegistryString;

class TestApplication : public ITalvenApplication {
 public:
  void* GetInterfaceA() override { return nullptr; }
  void NotifyA() override {}
  void* GetInterfaceB() override { return nullptr; }
  AString GetInstallDirectory() const override { return installDirectory; }
  AString GetRegistryFileName() const override { return L"prod"; }

  AString installDirectory;
};

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    application_.installDirectory = AString::FromBytes(dir_.Path() + "/inst");
    InitVxcoreDLL(&application_);
  }
  ~RegistryTest() override { InitVxcoreDLL(nullptr); }

  // The stored value, or "!" and the default "d" when there is none.
  static std::string Read(int provider, const AString& section, const AString& entry) {
    bool found = false;
    const AString value = Registry::GetRegistryString(found, provider, section, entry, L"d");
    return (found ? "" : "!") + value.ASCII();
  }

  vxtest::TempDir dir_;
  std::string home_ = dir_.Path() + "/home";
  ScopedEnv homeEnv_{"HOME", home_};
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
  TestApplication application_;
};

TEST_F(RegistryTest, PersonalFolderFollowsUserDirs) {
  auto personalDir = [] {
    AString folder;
    return Registry::GetPersonalDirPath(folder) ? folder.ASCII() : "(false)";
  };
  EXPECT_EQ(personalDir(), home_ + "/Documents");
  // The last valid line wins; the lines after it are all invalid.
  WriteFile(home_ + "/.config/user-dirs.dirs",
            "# c\nXDG_DOCUMENTS_DIR=\"$HOME/a\"\n  XDG_DOCUMENTS_DIR = \"/abs/My \\\"Docs\\\"\"\r\n"
            "XDG_DOCUMENTS_DIR=\"relative\"\nXDG_DOCUMENTS_DIRS=\"/x\"\n#XDG_DOCUMENTS_DIR=\"/x\"\n"
            "XDG_DOCUMENTS_DIR=\"$HOMEX/y\"\nXDG_DOCUMENTS_DIR=\"/unterminated\n");
  EXPECT_EQ(personalDir(), "/abs/My \"Docs\"");
  ScopedEnv configHome("XDG_CONFIG_HOME", dir_.Path() + "/xdg");
  WriteFile(dir_.Path() + "/xdg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Elsewhere\"\n");
  EXPECT_EQ(personalDir(), home_ + "/Elsewhere");
  ScopedEnv emptyHome("HOME", "");
  EXPECT_EQ(personalDir(), "(false)");
  ScopedEnv noHome("HOME", std::nullopt);
  EXPECT_EQ(personalDir(), "(false)");
}

TEST_F(RegistryTest, ProvidersUseTheDocumentedFiles) {
  const std::string install = dir_.Path() + "/inst/config/vxcore/prod";
  const std::string user = home_ + "/Documents/Talven/vxcore/prod",
                    machine = "_" + testsupport::HostName();
  const std::string paths[] = {install + ".reg", install + machine + ".reg", user + ".reg",
                               user + machine + ".reg", ""};
  for (int p = 0; p < 5; ++p) EXPECT_EQ(Registry::GetRegistryFilePath(p).ASCII(), paths[p]);
}

TEST_F(RegistryTest, EscapedNamesAndValuesSurviveTheFile) {
  // Names and values full of the file format's own syntax; the folders do not exist yet.
  const std::pair<const char*, const char*> names[] = {
      {"", "TempDirectory"}, {"[odd]=section", "#entry"}, {"multi\nline", "a=b"}, {"s", ""}};
  const char* values[] = {"",   "line1\nline2\r\n", "a=b",          "[section]",
                          "#c", "back\\slash\\",    "\x01\x7F\xFF", " padded "};
  for (const int provider : {0, 3}) {
    for (const auto& [section, entry] : names) {
      for (const char* value : values) {
        ASSERT_TRUE(Write(provider, section, entry, value));
        EXPECT_EQ(Read(provider, section, entry), value) << provider << section << entry;
      }
    }
  }
  EXPECT_EQ(Read(0, "", "TEMPDIRECTORY"), " padded ");
  // No temporary files are left beside the registry files.
  for (const auto& file :
       std::filesystem::directory_iterator(dir_.Path() + "/inst/config/vxcore")) {
    EXPECT_EQ(file.path().extension(), ".reg") << file.path();
  }
}

TEST_F(RegistryTest, PrecedenceSearchesUserMachineFirst) {
  // "<provider>:<value>" of a search for entry "e".
  auto search = [](bool emptyMeansAbsent) {
    int provider = -1;
    const AString value =
        Registry::GetRegistryStringUsePrecedence(provider, L"", L"e", L"d", emptyMeansAbsent);
    return std::to_string(provider) + ":" + value.ASCII();
  };
  EXPECT_EQ(search(true), "4:d");
  ASSERT_TRUE(Write(0, "", "e", "install") && Write(1, "", "e", "install_machine"));
  EXPECT_EQ(search(true), "1:install_machine");
  ASSERT_TRUE(Write(2, "", "e", "user") && Write(3, "", "e", ""));
  EXPECT_EQ(search(true), "2:user");
  EXPECT_EQ(search(false), "3:");
}

TEST_F(RegistryTest, WritesWithoutAUsableFileFailAndTouchNothing) {
  const std::string path = Registry::GetRegistryFilePath(0).ASCII();
  const std::string damaged = "[s]\r\ngood=1\r\nno separator\nbad=\\q\n";
  WriteFile(path, damaged);
  EXPECT_EQ(Read(0, "S", "GOOD"), "1");
  EXPECT_FALSE(Write(0, "s", "good", "2"));
  EXPECT_EQ(vxtest::ReadFile(path), damaged);

  application_.installDirectory = L"";  // must not fall back to /config
  EXPECT_FALSE(Write(0, "", "e", "v"));
  application_.installDirectory = AString::FromBytes(dir_.Path() + "/blocker");
  WriteFile(dir_.Path() + "/blocker", "a file where a folder should be");
  EXPECT_FALSE(Write(1, "", "e", "v"));
}

}  // namespace
