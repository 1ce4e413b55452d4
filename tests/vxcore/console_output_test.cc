// The two ways out of a run: its standard output and the debug log.
#include "vxcore/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "test_util.h"
#include "vxcore/assert_failure.h"
#include "vxcore/tal_debug.h"

namespace {

struct RecordingSink : core::OutputSink {
  void Write(const char* data, size_t size) override { writes.emplace_back(data, size); }
  std::vector<std::string> writes;
};

TEST(ConsoleOutputTest, WideAndNarrowPrintsShareOneOrderedSink) {
  RecordingSink sink;
  core::OutputSink* previous = core::SetOutputSink(&sink);
  core::PrintWide(L"Value <%s>\n", L"caf\xC3\xA9");  // UTF-8 widened byte by byte
  core::PrintNarrow("Unsupported value type %s\n", "7");
  core::PrintWide(L"%d%s", 1, L"\x20AC");
  core::PrintNarrow("%s", "");
  EXPECT_EQ(core::SetOutputSink(previous), &sink);
  EXPECT_EQ(sink.writes, (std::vector<std::string>{"Value <caf\xC3\xA9>\n",
                                                   "Unsupported value type 7\n", "1?"}));
}

// A pipe takes what it can without waiting as the run goes; what it cannot
// take waits for the end of the run, so that no write waits for a slow reader
// while the run still reads the store.
TEST(ConsoleOutputTest, APipeGetsWhatItTakesAtOnceAndTheRestAtTheEnd) {
  const std::string line(999, 'x');
  for (bool slowReader : {true, false}) {
    SCOPED_TRACE(slowReader ? "a pipe nearly full" : "an empty pipe");
    int pipeEnds[2];
    ASSERT_EQ(0, ::pipe2(pipeEnds, O_NONBLOCK));
    const int capacity = ::fcntl(pipeEnds[1], F_GETPIPE_SZ);
    const std::string unread(slowReader ? capacity - 1000 : 0, 'u');
    ASSERT_EQ(static_cast<ssize_t>(unread.size()),
              ::write(pipeEnds[1], unread.data(), unread.size()));
    const int savedOut = ::dup(1);
    ASSERT_EQ(1, ::dup2(pipeEnds[1], 1));
    for (int i = 0; i < 200; ++i) core::PrintBytes(line + "\n");
    std::string written(4 << 20, '\0');
    const ssize_t early = std::max<ssize_t>(0, ::read(pipeEnds[0], written.data(), written.size()));
    ASSERT_GE(::fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20), 0);
    core::FlushOutput();
    ::dup2(savedOut, 1);
    ::close(savedOut);
    if (slowReader) {
      EXPECT_EQ(static_cast<ssize_t>(unread.size()), early);
    } else {
      EXPECT_GT(early, 0);
    }
    const ssize_t late = std::max<ssize_t>(0, ::read(pipeEnds[0], written.data(), written.size()));
    EXPECT_EQ(static_cast<ssize_t>(unread.size()) + 200000, early + late);
    ::close(pipeEnds[0]), ::close(pipeEnds[1]);
  }
}

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
