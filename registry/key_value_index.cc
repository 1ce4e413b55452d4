#include "registry/key_value_index.h"

#include "fsio/content_hash.h"

void KeyValueIndex::Assign(TalRegKey key) {
  values_.clear();
  if (key != nullptr) {
    static_cast<void>(TalRegVisitValuesA(
        key,
        [](void* target, const TalRegValueView& value) {
          static_cast<std::vector<TalRegValueView>*>(target)->push_back(value);
        },
        &values_));
  }
  size_t size = 16;
  while (size < values_.size() * 2) size *= 2;
  slots_.assign(size, 0);
  // In store order, so that of two equal names the first is found, as the store does.
  for (size_t i = 0; i < values_.size(); ++i) {
    const uint64_t hash = Hash(values_[i].name);
    size_t slot = hash & (size - 1);
    while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
    slots_[slot] = (hash & kTagMask) | (i + 1);
  }
}

uint64_t KeyValueIndex::Hash(std::string_view name) { return fsio::Hash64(name); }

const TalRegValueView* KeyValueIndex::Find(std::string_view name, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    if ((slots_[slot] & kTagMask) != (hash & kTagMask)) continue;
    const TalRegValueView& value = values_[(slots_[slot] & ~kTagMask) - 1];
    if (value.name == name) return &value;
  }
  return nullptr;
}
