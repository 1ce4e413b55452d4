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
  // The high half of a slot holds the high half of its name's hash, so that
  // a probe compares names (which lie scattered in the store) only when
  // those match; the low half is the value's index + 1, 0 for a free slot.
  static constexpr uint64_t kTagMask = 0xFFFFFFFF00000000u;
  std::vector<TalRegValueView> values_;
  std::vector<uint64_t> slots_;
};
