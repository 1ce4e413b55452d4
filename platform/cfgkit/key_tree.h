// The loaded store in memory: a tree of keys, each with its subkeys and values
// in store order and an index by exact (case-sensitive) name. Opening a path
// costs one hash look-up per component; the i-th subkey or value is O(1).
//
// Keys live in an arena and are addressed by KeyId, so an id stays valid (and
// can be told dead) after its key was deleted. The root is a nameless key whose
// subkeys are the top-level keys, one per store file. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/name_index.h"

namespace cfgkit {

using KeyId = uint32_t;
constexpr KeyId kNoKey = UINT32_MAX;

// Store type codes, the same numbers the callers use.
enum class ValueType : uint32_t { kString = 2, kInt32 = 4 };

struct Value {
  std::string name;
  ValueType type = ValueType::kString;
  std::string text;     // kString
  uint32_t number = 0;  // kInt32, as its 32-bit pattern
};

class KeyTree {
 public:
  KeyTree();

  KeyId Root() const { return 0; }
  bool IsLive(KeyId key) const { return key < keys_.size() && keys_[key].live; }
  const std::string& Name(KeyId key) const { return keys_[key].name; }
  KeyId Parent(KeyId key) const { return keys_[key].parent; }

  // The top-level key that `key` lies in (itself for a top-level key).
  // REQUIRES: `key` is live and not the root.
  KeyId TopLevelOf(KeyId key) const;

  size_t SubkeyCount(KeyId key) const { return keys_[key].subkeys.size(); }
  KeyId SubkeyAt(KeyId key, size_t index) const { return keys_[key].subkeys[index]; }
  KeyId FindSubkey(KeyId parent, std::string_view name) const;

  // Appends a new subkey. REQUIRES: `parent` has no subkey called `name`.
  KeyId AddSubkey(KeyId parent, std::string name);

  // Detaches `key` from its parent; it and every key below it become dead.
  // REQUIRES: `key` is live and not the root.
  void RemoveKey(KeyId key);

  size_t ValueCount(KeyId key) const { return keys_[key].values.size(); }
  const Value& ValueAt(KeyId key, size_t index) const { return keys_[key].values[index]; }
  const Value* FindValue(KeyId key, std::string_view name) const;

  // Replaces the value called `value.name`, or appends it when there is none.
  void SetValue(KeyId key, Value value);

  // Appends a value. REQUIRES: `key` has no value called `value.name`.
  void AddValue(KeyId key, Value value);

  // False when `key` has no value called `name`.
  bool RemoveValue(KeyId key, std::string_view name);

 private:
  struct Node {
    std::string name;
    KeyId parent = kNoKey;
    bool live = true;
    std::vector<KeyId> subkeys;
    NameIndex subkeyIndex;
    std::vector<Value> values;
    NameIndex valueIndex;
  };

  auto SubkeyNames(const Node& node) const {
    return [this, &node](size_t i) -> std::string_view { return keys_[node.subkeys[i]].name; };
  }
  static auto ValueNames(const Node& node) {
    return [&node](size_t i) -> std::string_view { return node.values[i].name; };
  }

  std::vector<Node> keys_;
};

}  // namespace cfgkit
