// The loaded store in memory: a tree of keys, each with its subkeys and values
// in store order and an index by exact (case-sensitive) name. Opening a path
// costs one hash look-up per component; the i-th subkey or value is O(1).
//
// Keys live in an arena and are addressed by KeyId, so an id stays valid (and
// can be told dead) after its key was deleted. The root is a nameless key whose
// subkeys are the top-level keys, one per store file. Not thread-safe.
//
// A top-level key may come from a snapshot image instead of its XML file; its
// keys are then read from the image one key at a time, when first touched, so
// a run pays for what it looks at, not for the size of the file. Reading may
// therefore grow the arena: a reference to a key's name does not survive the
// next call on the tree.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "cfgkit/name_index.h"

namespace cfgkit {

class Snapshot;
struct SnapshotKey;
struct SnapshotValue;

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

// A value seen in place, without a copy: valid until the tree changes.
struct ValueView {
  std::string_view name;
  ValueType type;
  std::string_view text;
  uint32_t number;
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

  size_t SubkeyCount(KeyId key) const { return Subkeys(key).size(); }
  KeyId SubkeyAt(KeyId key, size_t index) const { return Subkeys(key)[index]; }
  KeyId FindSubkey(KeyId parent, std::string_view name) const;

  // Appends a new subkey. REQUIRES: `parent` has no subkey called `name`.
  KeyId AddSubkey(KeyId parent, std::string name);

  // Detaches `key` from its parent; it and every key below it become dead.
  // Their values stay where they are, so that views of them stay valid.
  // REQUIRES: `key` is live and not the root.
  void RemoveKey(KeyId key);

  size_t ValueCount(KeyId key) const { return Values(key).size(); }
  const Value& ValueAt(KeyId key, size_t index) const { return Values(key)[index]; }
  const Value* FindValue(KeyId key, std::string_view name) const;
  // The value called `name`, seen in place: a key still in its image is
  // looked up there, without building its values. False when there is none.
  // `hash` is NameIndex::Hash(name), so that a name asked of several keys is
  // hashed once.
  bool FindValueView(KeyId key, std::string_view name, uint64_t hash, ValueView* view) const;

  // Calls `visit(context, view)` for each value of `key` in store order. A key
  // still in its image is read there, without building its values.
  void VisitValues(KeyId key, void (*visit)(void* context, const ValueView& value),
                   void* context) const;
  // The image and the record there that `key`'s values are read from while
  // they are not built: VisitValues then gives what image->ForEachValue
  // gives, which a caller may ask itself without a call per value. False
  // once they are built.
  bool ValuesInImage(KeyId key, const Snapshot** image, const SnapshotKey** record) const;
  // Replaces `names` with the names of `key`'s values in ascending byte
  // order, seen in place as VisitValues shows them.
  void ValueNamesByName(KeyId key, std::vector<std::string_view>* names) const;
  template <class Use>
  void ForEachValue(KeyId key, Use&& use) const {
    using Target = std::remove_reference_t<Use>;
    VisitValues(
        key, [](void* target, const ValueView& value) { (*static_cast<Target*>(target))(value); },
        &use);
  }

  // Replaces the value called `value.name`, or appends it when there is none.
  void SetValue(KeyId key, Value value);

  // Appends a value. REQUIRES: `key` has no value called `value.name`.
  void AddValue(KeyId key, Value value);

  // False when `key` has no value called `name`.
  bool RemoveValue(KeyId key, std::string_view name);

  // The run will read most keys: a key's subkeys are read from its image all
  // at once, not probed one by one first.
  void ExpectWholeReads() { wholeReads_ = true; }

  // Adds the top-level key `name` whose content is read from `image` when
  // needed. `image` must outlive the tree.
  KeyId AddTopFromSnapshot(std::string_view name, const Snapshot* image);

 private:
  struct Node {
    std::string name;
    KeyId parent = kNoKey;
    bool live = true;
    std::vector<KeyId> subkeys;
    NameIndex subkeyIndex;
    std::vector<Value> values;
    NameIndex valueIndex;
    // Where the subkeys and values not read yet are.
    const Snapshot* image = nullptr;
    uint32_t imageKey = 0;
    bool subkeysPending = false;
    bool valuesPending = false;
    // Whether a subkey was found in the image by name while the rest stay
    // unread.
    bool subkeyProbed = false;
    // Once valueIndex holds the image's values: their records and pool,
    // checked, and how many a full read would build.
    const SnapshotValue* imageValues = nullptr;
    const char* imagePool = nullptr;
    uint32_t imageValueCount = 0;
  };

  const std::vector<KeyId>& Subkeys(KeyId key) const {
    if (keys_[key].subkeysPending) LoadSubkeys(key);
    return keys_[key].subkeys;
  }
  const std::vector<Value>& Values(KeyId key) const {
    if (keys_[key].valuesPending) LoadValues(key);
    return keys_[key].values;
  }
  void LoadSubkeys(KeyId key) const;
  // Finds the subkey `name` of a key whose subkeys are still in its image,
  // building only that one: a Get opens one path, not every sibling on it.
  KeyId ProbeImageSubkey(KeyId parent, std::string_view name) const;
  void LoadValues(KeyId key) const;
  // Indexes the values of `node` in its image by name, once; false when they
  // cannot be read in place.
  bool IndexImageValues(Node& node) const;
  // Calls `use(value, name, text)` for each value of `node` in its image.
  template <class Use>
  static void ForEachImageValue(const Node& node, const Use& use);
  KeyId AddImageKey(KeyId parent, std::string_view name, const Snapshot* image,
                    uint32_t imageKey) const;

  auto SubkeyNames(const Node& node) const {
    return [this, &node](size_t i) -> std::string_view { return keys_[node.subkeys[i]].name; };
  }
  static auto ValueNames(const Node& node) {
    return [&node](size_t i) -> std::string_view { return node.values[i].name; };
  }

  // Mutable because reading from an image fills it in.
  mutable std::vector<Node> keys_;
  // The keys ProbeImageSubkey built, by parent and image index, so that
  // loading the rest of their siblings keeps their ids, and removing their
  // parent removes them.
  mutable std::map<uint64_t, KeyId> probedSubkeys_;
  // The values of removed keys, kept for the tree's life: a key is removed
  // when its file is read again under a reader that still views its values.
  std::vector<std::vector<Value>> retiredValues_;
  // How many keys the images added so far hold: what reading them all builds.
  uint64_t imageKeys_ = 0;
  bool wholeReads_ = false;
};

}  // namespace cfgkit
