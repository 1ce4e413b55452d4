#include "vxcore/tal_debug.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "vxcore/assert_failure.h"

namespace {

using vxtest::ReadFile;

class TalDebugTest : public ::testing::Test {
 protected:
  ~TalDebugTest() override { UseLevel(levelEnv_.previous); }
  void UseLevel(const std::optional<std::string>& level) {
    levelEnv_.Set(level);
    my_tal_debug_data.ReloadFromEnvironment();
  }

  vxtest::TempDir dir_;
  std::string logPath_ = dir_.Path() + "/debug.log";
  vxtest::ScopedEnv fileEnv_{"TALVEN_DEBUG_FILE", logPath_};
  vxtest::ScopedEnv levelEnv_{"TALVEN_DEBUG_LEVEL", std::nullopt};
};

TEST_F(TalDebugTest, LevelIsOneDigitAndGatesLinesAppendedToTheFile) {
  for (const char* text : {"10", " 3", "-1", ""}) {
    UseLevel(text);
    EXPECT_EQ(my_tal_debug_data.Level(), 0) << '"' << text << '"';
  }
  TalDebug(1, L"hidden at level 0\n");
  EXPECT_EQ(ReadFile(logPath_), "");

  vxtest::WriteFile(logPath_, "earlier\n");
  UseLevel("3");
  for (int level = 0; level <= 5; ++level) TalDebug(level, L"level %d <%s>\n", level, L"\xE9");
  EXPECT_EQ(ReadFile(logPath_), "earlier\nlevel 1 <\xE9>\nlevel 2 <\xE9>\nlevel 3 <\xE9>\n");
  UseLevel("9");
  EXPECT_TRUE(my_tal_debug_data.Debug(9));
}

TEST_F(TalDebugTest, ABufferWritesTheSameLinesInBlocksOfWholeLines) {
  UseLevel("5");
  const std::string first = "one \xE9\ntwo\n", line = std::string(999, 'x') + "\n";
  {
    TalDebugBuffer buffer;
    TalDebug(1, L"one %hs\n", "\xE9");
    TalDebugLines(5, "two\n");
    TalDebugLines(6, "hidden\n");
    EXPECT_EQ(ReadFile(logPath_), "");
    for (int i = 0; i < 100; ++i) TalDebugLines(5, line);
    const size_t written = ReadFile(logPath_).size();
    EXPECT_GT(written, 0u);
    EXPECT_EQ((written - first.size()) % line.size(), 0u);
  }
  std::string all = first;
  for (int i = 0; i < 100; ++i) all += line;
  EXPECT_EQ(ReadFile(logPath_), all);
}

TEST_F(TalDebugTest, AssertionsReportUnlessIgnored) {
  UseLevel("1");
  bool ignoreSite = false;
  ProcessAssertFailure_G("file.cc", 12, "readOnly == true", &ignoreSite);
  ignoreSite = true;
  ProcessAssertFailure_G("file.cc", 13, "site ignored", &ignoreSite);
  IgnoreAllAsserts_G = true;
  ProcessAssertFailure_G("file.cc", 14, "all ignored", nullptr);
  IgnoreAllAsserts_G = false;
  VX_ASSERT(1 + 1 == 3);
  EXPECT_EQ(ReadFile(logPath_).find("Assertion failed: readOnly == true, file file.cc, line 12\n"
                                    "Assertion failed: 1 + 1 == 3, file "),
            0u);
  EXPECT_EQ(ReadFile(logPath_).find("ignored"), std::string::npos);
}

}  // namespace
