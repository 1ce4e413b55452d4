#include "cfgkit/key_path.h"

namespace cfgkit {

std::vector<std::string_view> KeyPathComponents(std::string_view path) {
  std::vector<std::string_view> components;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) components.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

bool IsValidKeyName(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace cfgkit
