// Key paths name a top-level key and the keys below it. Components are joined
// by '/' or '\' and empty components are skipped, so "user//Desktop/" names
// the same key as "user/Desktop". Names match exactly (case-sensitive).
#pragma once

#include <string_view>
#include <vector>

namespace cfgkit {

// The non-empty components of `path`, viewing into it.
std::vector<std::string_view> KeyPathComponents(std::string_view path);

// Whether `name` can name a subkey: not empty, neither '/' nor '\'.
bool IsValidKeyName(std::string_view name);

}  // namespace cfgkit
