#include "cfgkit/handle_table.h"

namespace cfgkit {

KeyHandle HandleTable::Open(KeyId key) {
  uint32_t index;
  if (freeSlots_.empty()) {
    index = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  } else {
    index = freeSlots_.back();
    freeSlots_.pop_back();
  }
  Slot& slot = slots_[index];
  slot.key = key;
  slot.open = true;
  uint64_t value = (uint64_t{slot.generation} << 32) | (uint64_t{index} + 1);
  return reinterpret_cast<KeyHandle>(static_cast<uintptr_t>(value));
}

size_t HandleTable::Find(KeyHandle handle) const {
  uint64_t value = reinterpret_cast<uintptr_t>(handle);
  uint64_t index = value & 0xFFFFFFFFu;
  if (index == 0 || index > slots_.size()) return kNotOpen;
  const Slot& slot = slots_[index - 1];
  if (!slot.open || slot.generation != static_cast<uint32_t>(value >> 32)) return kNotOpen;
  return index - 1;
}

KeyId HandleTable::Lookup(KeyHandle handle) const {
  size_t index = Find(handle);
  return index == kNotOpen ? kNoKey : slots_[index].key;
}

bool HandleTable::Close(KeyHandle handle) {
  size_t index = Find(handle);
  if (index == kNotOpen) return false;
  slots_[index].open = false;
  ++slots_[index].generation;
  freeSlots_.push_back(static_cast<uint32_t>(index));
  return true;
}

void HandleTable::CloseAll() {
  freeSlots_.clear();
  for (uint32_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].open) {
      slots_[i].open = false;
      ++slots_[i].generation;
    }
    freeSlots_.push_back(i);
  }
}

}  // namespace cfgkit
