// Key handles: opaque values that name an open key. A handle is checked on
// every use, so a null, made-up, closed or outdated handle is refused instead
// of being followed. Not thread-safe.
#pragma once

#include <cstdint>
#include <vector>

#include "cfgkit/key_tree.h"

namespace cfgkit {

using KeyHandle = struct KeyHandleTag*;

class HandleTable {
 public:
  KeyHandle Open(KeyId key);

  // The key that `handle` was opened on, or kNoKey when `handle` is not open.
  KeyId Lookup(KeyHandle handle) const;

  // False when `handle` is not open.
  bool Close(KeyHandle handle);

  // Closes every handle, e.g. when the store is loaded again.
  void CloseAll();

  // Gives every open handle the key `move(key)` in place of its key, so that
  // handles outlive a key read again.
  template <class Move>
  void MoveKeys(Move&& move) {
    for (Slot& slot : slots_) {
      if (slot.open) slot.key = move(slot.key);
    }
  }

 private:
  // A handle is (generation << 32) | (slot + 1); the slot's generation moves on
  // at every close, so an old handle never matches the slot's next use.
  struct Slot {
    KeyId key = kNoKey;
    uint32_t generation = 0;
    bool open = false;
  };

  static constexpr size_t kNotOpen = SIZE_MAX;

  // The slot index of an open `handle`, or kNotOpen.
  size_t Find(KeyHandle handle) const;

  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
};

}  // namespace cfgkit
