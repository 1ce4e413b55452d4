// A hash index over the names of a key's subkeys or values, kept beside the
// ordered vector that owns the names. It stores positions and a part of each
// name's hash, so names are not copied and a probe reads a name (which may lie
// anywhere) only when the hashes agree; small lists are scanned and get no table.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fsio/content_hash.h"

namespace cfgkit {

class NameIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The hash Find takes: a name looked up in several keys is hashed once.
  static uint64_t Hash(std::string_view name) { return fsio::Hash64(name); }

  // The position of the element called `name` among the `count` elements, or
  // kNone. `nameAt(i)` returns the name of element i as a string_view.
  template <class NameAt>
  uint32_t Find(std::string_view name, size_t count, const NameAt& nameAt) const {
    return Find(name, slots_.empty() ? 0 : Hash(name), count, nameAt);
  }

  // The same with `hash` == Hash(name).
  template <class NameAt>
  uint32_t Find(std::string_view name, uint64_t hash, size_t count, const NameAt& nameAt) const {
    if (slots_.empty()) {
      for (size_t i = 0; i < count; ++i) {
        if (nameAt(i) == name) return static_cast<uint32_t>(i);
      }
      return kNone;
    }
    const size_t mask = slots_.size() - 1;
    const uint64_t tag = hash & kTagMask;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const uint64_t entry = slots_[slot];
      if (entry == 0) return kNone;
      const uint32_t position = static_cast<uint32_t>(entry) - 1;
      if ((entry & kTagMask) == tag && nameAt(position) == name) return position;
    }
  }

  // Records that element `count - 1` was appended.
  template <class NameAt>
  void Appended(size_t count, const NameAt& nameAt) {
    if (count <= kScanLimit) return;
    if (slots_.empty() || count * 2 > slots_.size()) {
      Rebuild(count, nameAt);
      return;
    }
    Insert(static_cast<uint32_t>(count - 1), nameAt(count - 1));
  }

  // Rebuilds the index over `count` elements; false, with the index unusable,
  // when two of them have the same name.
  template <class NameAt>
  bool RebuildDistinct(size_t count, const NameAt& nameAt) {
    slots_.clear();
    if (count <= kScanLimit) return count < 2 || nameAt(0) != nameAt(1);
    size_t size = 16;
    while (size < count * 2) size *= 2;
    slots_.assign(size, 0);
    const size_t mask = size - 1;
    for (size_t i = 0; i < count; ++i) {
      const std::string_view name = nameAt(i);
      const uint64_t hash = Hash(name);
      size_t slot = hash & mask;
      for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
        const uint64_t entry = slots_[slot];
        if ((entry & kTagMask) == (hash & kTagMask) &&
            nameAt(static_cast<uint32_t>(entry) - 1) == name) {
          return false;
        }
      }
      slots_[slot] = (hash & kTagMask) | (uint64_t{i} + 1);
    }
    return true;
  }

  // Rebuilds the index after elements were removed or reordered.
  template <class NameAt>
  void Rebuild(size_t count, const NameAt& nameAt) {
    slots_.clear();
    if (count <= kScanLimit) {
      slots_.shrink_to_fit();
      return;
    }
    size_t size = 16;
    while (size < count * 2) size *= 2;
    slots_.assign(size, 0);
    for (size_t i = 0; i < count; ++i) Insert(static_cast<uint32_t>(i), nameAt(i));
  }

 private:
  static constexpr size_t kScanLimit = 2;
  // The high half of a slot holds the high half of its name's hash.
  static constexpr uint64_t kTagMask = 0xFFFFFFFF00000000u;

  void Insert(uint32_t position, std::string_view name) {
    const uint64_t hash = Hash(name);
    const size_t mask = slots_.size() - 1;
    size_t slot = hash & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = (hash & kTagMask) | (uint64_t{position} + 1);
  }

  std::vector<uint64_t> slots_;  // tag | (position + 1); 0 marks a free slot
};

}  // namespace cfgkit
