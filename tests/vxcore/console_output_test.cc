#include "vxcore/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

// Nothing reaches standard output before the run ends: a write that waits
// for a slow reader must not come while the run still reads the store.
TEST(ConsoleOutputTest, StandardOutputIsHeldUntilTheRunEnds) {
  int pipeEnds[2];
  ASSERT_EQ(0, ::pipe2(pipeEnds, O_NONBLOCK));
  ::fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20);
  const int savedOut = ::dup(1);
  ASSERT_EQ(1, ::dup2(pipeEnds[1], 1));
  const std::string line(999, 'x');
  for (int i = 0; i < 200; ++i) core::PrintBytes(line + "\n");
  char byte;
  const ssize_t early = ::read(pipeEnds[0], &byte, 1);
  const int error = errno;
  core::FlushOutput();
  ::dup2(savedOut, 1);
  ::close(savedOut);
  EXPECT_EQ(-1, early);
  EXPECT_EQ(EAGAIN, error);
  std::string written(300000, '\0');
  const ssize_t size = ::read(pipeEnds[0], written.data(), written.size());
  EXPECT_EQ(200000, size);
  ::close(pipeEnds[0]), ::close(pipeEnds[1]);
}

}  // namespace
