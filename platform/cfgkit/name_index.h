// A hash index over the names of a key's subkeys or values, kept beside the
// ordered vector that owns the names. It stores only positions, so names are
// not copied; small lists (the common case) are scanned and get no table.
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

  // The position of the element called `name` among the `count` elements, or
  // kNone. `nameAt(i)` returns the name of element i as a string_view.
  template <class NameAt>
  uint32_t Find(std::string_view name, size_t count, const NameAt& nameAt) const {
    if (slots_.empty()) {
      for (size_t i = 0; i < count; ++i) {
        if (nameAt(i) == name) return static_cast<uint32_t>(i);
      }
      return kNone;
    }
    size_t mask = slots_.size() - 1;
    for (size_t slot = Hash(name) & mask;; slot = (slot + 1) & mask) {
      uint32_t entry = slots_[slot];
      if (entry == 0) return kNone;
      if (nameAt(entry - 1) == name) return entry - 1;
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

  // Rebuilds the index after elements were removed or reordered.
  template <class NameAt>
  void Rebuild(size_t count, const NameAt& nameAt) {
    slots_.clear();
    if (count <= kScanLimit) {
      slots_.shrink_to_fit();
      return;
    }
    size_t size = 16;
    while (size < count * 4) size *= 2;
    slots_.assign(size, 0);
    for (size_t i = 0; i < count; ++i) Insert(static_cast<uint32_t>(i), nameAt(i));
  }

 private:
  static constexpr size_t kScanLimit = 2;

  static size_t Hash(std::string_view name) { return static_cast<size_t>(fsio::Hash64(name)); }

  void Insert(uint32_t position, std::string_view name) {
    size_t mask = slots_.size() - 1;
    size_t slot = Hash(name) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = position + 1;
  }

  std::vector<uint32_t> slots_;  // position + 1; 0 marks a free slot
};

}  // namespace cfgkit
