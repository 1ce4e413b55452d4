// The values of one store key seen in place and found by exact name, as the
// store's reads by name find them, but without the store building a copy of
// every value of the key at its first read. Valid until the store changes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "cfgkit/cfgkit.h"

class KeyValueIndex {
 public:
  // Indexes `key`'s values; none for a null key.
  void Assign(TalRegKey key);

  // The value called exactly `name`, or null; `hash` is Hash(name), so that
  // a name looked up in several keys is hashed once.
  static uint64_t Hash(std::string_view name);
  const TalRegValueView* Find(std::string_view name, uint64_t hash) const;

 private:
  std::vector<TalRegValueView> values_;
  std::vector<uint32_t> slots_;  // open addressing: index into values_ + 1, 0 free
};
