#include "cfgkit/key_path.h"

#include <algorithm>

namespace cfgkit {
namespace {

// A plain test: find_first_of searches its set once per character.
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::vector<std::string_view> KeyPathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    if (i > start) components.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return components;
}

std::span<const std::string_view> KeyPathComponents(const std::string_view& path,
                                                    std::vector<std::string_view>* storage) {
  if (IsValidKeyName(path)) return {&path, 1};
  *storage = KeyPathComponents(path);
  return *storage;
}

bool IsValidKeyName(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), IsSeparator);
}

}  // namespace cfgkit
