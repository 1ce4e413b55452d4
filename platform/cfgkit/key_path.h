// Key paths name a top-level key and the keys below it. Components are joined
// by '/' or '\' and empty components are skipped, so "user//Desktop/" names
// the same key as "user/Desktop". Names match exactly (case-sensitive).
#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace cfgkit {

// The non-empty components of `path`, viewing into it.
std::vector<std::string_view> KeyPathComponents(std::string_view path);

// The same without an allocation for a path of one name, the common case:
// `path` itself then, else the components kept in `*storage`. Valid while
// both are.
std::span<const std::string_view> KeyPathComponents(const std::string_view& path,
                                                    std::vector<std::string_view>* storage);

// Whether `name` can name a subkey: not empty, neither '/' nor '\'.
bool IsValidKeyName(std::string_view name);

}  // namespace cfgkit
