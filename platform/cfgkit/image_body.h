// The body of a compiled image of one top-level key, as it is built: the keys
// in breadth-first order (so each key's subkeys are one contiguous run after
// it), the values grouped by key, and a pool of name and text bytes. The
// reader fills one straight from the XML; a save fills one from the key tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cfgkit {

struct SnapshotKey {
  uint32_t nameOffset, nameLength;
  uint32_t firstSubkey, subkeyCount;
  uint32_t firstValue, valueCount;
};

struct SnapshotValue {
  uint32_t nameOffset, nameLength;
  uint32_t type, number;
  uint32_t textOffset, textLength;
};

struct ImageBody {
  std::vector<SnapshotKey> keys;
  std::vector<SnapshotValue> values;
  std::string pool;

  // Appends `text` to the pool; false when the pool outgrew 32-bit offsets.
  bool AddText(std::string_view text, uint32_t* offset, uint32_t* length) {
    *offset = static_cast<uint32_t>(pool.size());
    *length = static_cast<uint32_t>(text.size());
    pool.append(text);
    return pool.size() <= UINT32_MAX;
  }
};

}  // namespace cfgkit
