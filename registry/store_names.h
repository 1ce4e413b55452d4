// Reading the names of a store key's subkeys or values, shared by the
// enumerations so that they all see the same names.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "cfgkit/cfgkit.h"

// The longest names the enumerations read, as their buffers of 1,000 and
// 16,000 bytes allow.
constexpr size_t kLongestSubkeyName = 999;
constexpr size_t kLongestValueName = 15999;

// Calls `add(std::string_view)` with the name of each of `key`'s subkeys (or
// values) in store order. A name is taken up to its first NUL; a longer one
// than above cannot be read and is left out. Values are read in place, so
// that listing them does not make the store copy them.
template <class Add>
void ForEachStoreName(TalRegKey key, bool subkeys, Add add) {
  if (!subkeys) {
    auto visit = [&add](const TalRegValueView& value) {
      if (value.name.size() <= kLongestValueName) add(value.name.substr(0, value.name.find('\0')));
    };
    static_cast<void>(TalRegVisitValuesA(
        key,
        [](void* target, const TalRegValueView& value) {
          (*static_cast<decltype(visit)*>(target))(value);
        },
        &visit));
    return;
  }
  int32_t count = 0;
  if (TalRegGetNumKeys(key, &count) != kTalRegOk || count <= 0) return;
  constexpr int32_t kBufferSize = kLongestSubkeyName + 1;
  // Not zeroed: only what the store writes into it is read.
  auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  for (int32_t i = 0; i < count; ++i) {
    int32_t size = kBufferSize;
    if (TalRegGetSubKeyNameA(key, i, buffer.get(), &size) == kTalRegOk) {
      add(std::string_view(buffer.get()));
    }
  }
}
