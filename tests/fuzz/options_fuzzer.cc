// Arbitrary command lines through the option parser, the product check and
// the key splitting that every command starts with. Arguments are the
// input's NUL-separated pieces.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tool/key_operations.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

namespace {

class DiscardOutput : public core::OutputSink {
 public:
  void Write(const char*, size_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardOutput discard;
  core::SetOutputSink(&discard);
  std::vector<AString> args;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= input.size()) {
    size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    args.push_back(AString::FromBytes(input.substr(start, end - start)));
    start = end + 1;
  }
  ToolOptions options;
  ParseOptions(options, static_cast<int>(args.size()), args.data());
  if (const wchar_t* level = options.values[SlotRegistryLevel]) LevelFromName(level);
  if (wchar_t* key = options.values[SlotRegistryKey]) {
    KeyPathParts parts = SplitKeyPath(key);
    AString section = parts.section;
    AString entry = parts.entry;
    LookupKeyAlias(section, entry);
  }
  return 0;
}
