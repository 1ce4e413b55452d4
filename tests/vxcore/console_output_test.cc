#include "vxcore/console_output.h"

#include <gtest/gtest.h>

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

}  // namespace
