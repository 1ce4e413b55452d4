#include "cfgkit/parse_position.h"

#include <charconv>

namespace cfgkit {

std::string WithLineAndColumn(const std::string& reason, std::string_view document) {
  constexpr std::string_view kOffset = "offset ";
  // Found before any line was read, such as the encoding.
  if (reason.rfind(kOffset, 0) != 0) return "line 1, column 1: " + reason;
  size_t offset = 0;
  const char* digits = reason.data() + kOffset.size();
  auto [end, error] = std::from_chars(digits, reason.data() + reason.size(), offset);
  if (error != std::errc() || offset > document.size()) return reason;
  size_t line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (document[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1) +
         std::string(end, reason.data() + reason.size());
}

}  // namespace cfgkit
