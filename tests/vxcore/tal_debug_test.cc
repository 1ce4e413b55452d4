#include "vxcore/tal_debug.h"

#include <gtest/gtest.h>

#include "CoreInterfaces/talven_application.h"
#include "test_util.h"
#include "vxcore/assert_failure.h"

namespace {

using vxtest::ReadFile;

class TalDebugTest : public ::testing::Test {
 protected:
  ~TalDebugTest() override {
    levelEnv_.reset();
    my_tal_debug_data.ReloadFromEnvironment();
  }

  void UseLevel(std::optional<std::string> level) {
    levelEnv_.emplace("TALVEN_DEBUG_LEVEL", level);
    my_tal_debug_data.ReloadFromEnvironment();
  }

  vxtest::TempDir dir_;
  std::string logPath_ = dir_.Path() + "/debug.log";
  vxtest::ScopedEnv fileEnv_{"TALVEN_DEBUG_FILE", logPath_};
  std::optional<vxtest::ScopedEnv> levelEnv_;
};

TEST_F(TalDebugTest, LevelComesFromTheEnvironment) {
  const std::pair<std::optional<std::string>, int> rows[] = {
      {std::nullopt, 0}, {"0", 0},  {"1", 1}, {"9", 9}, {"10", 0},
      {"-1", 0},         {" 3", 0}, {"x", 0}, {"", 0}};
  for (const auto& [text, level] : rows) {
    UseLevel(text);
    EXPECT_EQ(my_tal_debug_data.Level(), level) << '"' << text.value_or("unset") << '"';
  }
  TalDebug(1, L"hidden at level 0\n");
  EXPECT_EQ(ReadFile(logPath_), "");
}

TEST_F(TalDebugTest, WritesLinesUpToTheLevelAppendingToTheFile) {
  vxtest::WriteFile(logPath_, "earlier\n");
  UseLevel("3");
  EXPECT_FALSE(my_tal_debug_data.Debug(0));
  EXPECT_TRUE(my_tal_debug_data.Debug(3));
  for (int level = 0; level <= 5; ++level) TalDebug(level, L"level %d <%s>\n", level, L"\xE9");
  EXPECT_EQ(ReadFile(logPath_), "earlier\nlevel 1 <\xE9>\nlevel 2 <\xE9>\nlevel 3 <\xE9>\n");
}

class MinimalApplication : public ITalvenApplication {
 public:
  void* GetInterfaceA() override { return nullptr; }
  void NotifyA() override {}
  void* GetInterfaceB() override { return nullptr; }
};

TEST_F(TalDebugTest, AssertionsReportUnlessIgnored) {
  UseLevel("1");
  bool ignoreSite = false;
  ProcessAssertFailure_G("file.cc", 12, "readOnly == true", &ignoreSite);
  ignoreSite = true;
  ProcessAssertFailure_G("file.cc", 13, "site ignored", &ignoreSite);
  IgnoreAllAsserts_G = true;
  ProcessAssertFailure_G("file.cc", 14, "all ignored", nullptr);
  IgnoreAllAsserts_G = false;
  EXPECT_FALSE(MinimalApplication().DeprecatedCall());
  VX_ASSERT(1 + 1 == 3);
  const std::string log = ReadFile(logPath_);
  EXPECT_EQ(log.find("Assertion failed: readOnly == true, file file.cc, line 12\n"
                     "Assertion failed: !\"Deprecated Function. Should not be called.\", file "
                     "ITalvenApplication.h, line 175\n"
                     "Assertion failed: 1 + 1 == 3, file "),
            0u);
  EXPECT_EQ(log.find("ignored"), std::string::npos);
}

}  // namespace
