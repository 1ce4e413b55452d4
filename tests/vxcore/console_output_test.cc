#include "vxcore/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

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

}  // namespace
