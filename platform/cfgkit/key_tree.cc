#include "cfgkit/key_tree.h"

#include <algorithm>
#include <utility>

#include "cfgkit/snapshot.h"

namespace cfgkit {
namespace {

// An image's counts are read unchecked; a damaged one must not make a run
// reserve gigabytes.
constexpr uint64_t kMaxReservedValues = 1 << 16;

uint64_t ProbedKey(KeyId parent, uint32_t imageKey) { return uint64_t{parent} << 32 | imageKey; }

// Calls `use(index, name)` for each named subkey of the image's key `parent`,
// until it returns true.
template <class Use>
void ForEachImageSubkey(const Snapshot& image, uint32_t parent, const Use& use) {
  const SnapshotKey& record = *image.Key(parent);
  // Subkeys always come after their parent; anything else would not end.
  uint32_t first = std::max(record.firstSubkey, parent + 1);
  uint64_t end = uint64_t{record.firstSubkey} + record.subkeyCount;
  for (uint32_t i = first; i < end && image.Key(i) != nullptr; ++i) {
    const SnapshotKey& child = *image.Key(i);
    std::string_view name = image.Text(child.nameOffset, child.nameLength);
    if (!name.empty() && use(i, name)) return;
  }
}

}  // namespace

KeyTree::KeyTree() { keys_.emplace_back(); }

KeyId KeyTree::TopLevelOf(KeyId key) const {
  while (keys_[key].parent != Root()) key = keys_[key].parent;
  return key;
}

KeyId KeyTree::FindSubkey(KeyId parent, std::string_view name) const {
  // A second look-up under the same key reads all its subkeys: a listing
  // would otherwise scan them once for each.
  if (keys_[parent].subkeysPending && !keys_[parent].subkeyProbed && !wholeReads_) {
    return ProbeImageSubkey(parent, name);
  }
  Subkeys(parent);
  const Node& node = keys_[parent];
  uint32_t position = node.subkeyIndex.Find(name, node.subkeys.size(), SubkeyNames(node));
  return position == NameIndex::kNone ? kNoKey : node.subkeys[position];
}

KeyId KeyTree::AddSubkey(KeyId parent, std::string name) {
  Subkeys(parent);
  KeyId id = static_cast<KeyId>(keys_.size());
  Node child;
  child.name = std::move(name);
  child.parent = parent;
  keys_.push_back(std::move(child));
  Node& node = keys_[parent];
  node.subkeys.push_back(id);
  node.subkeyIndex.Appended(node.subkeys.size(), SubkeyNames(node));
  return id;
}

void KeyTree::RemoveKey(KeyId key) {
  Subkeys(keys_[key].parent);
  Node& parent = keys_[keys_[key].parent];
  auto position = std::find(parent.subkeys.begin(), parent.subkeys.end(), key);
  parent.subkeys.erase(position);
  parent.subkeyIndex.Rebuild(parent.subkeys.size(), SubkeyNames(parent));

  std::vector<KeyId> pending{key};
  while (!pending.empty()) {
    const KeyId id = pending.back();
    Node& node = keys_[id];
    pending.pop_back();
    pending.insert(pending.end(), node.subkeys.begin(), node.subkeys.end());
    if (node.subkeysPending && node.subkeyProbed) {
      for (auto probed = probedSubkeys_.lower_bound(ProbedKey(id, 0));
           probed != probedSubkeys_.end() && probed->first >> 32 == id; ++probed) {
        pending.push_back(probed->second);
      }
    }
    node.live = false;
    node.subkeysPending = node.valuesPending = false;
    std::vector<KeyId>().swap(node.subkeys);
    // Moved, not freed: views of them that a reader holds stay valid.
    if (!node.values.empty()) retiredValues_.push_back(std::move(node.values));
    node.values.clear();
    node.subkeyIndex.Rebuild(0, SubkeyNames(node));
    node.valueIndex.Rebuild(0, ValueNames(node));
  }
}

const Value* KeyTree::FindValue(KeyId key, std::string_view name) const {
  Values(key);
  const Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(name, node.values.size(), ValueNames(node));
  return position == NameIndex::kNone ? nullptr : &node.values[position];
}

bool KeyTree::FindValueView(KeyId key, std::string_view name, uint64_t hash,
                            ValueView* view) const {
  Node& node = keys_[key];
  if (node.valuesPending && IndexImageValues(node)) {
    const SnapshotValue* values = node.imageValues;
    const char* pool = node.imagePool;
    auto text = [pool](uint32_t offset, uint32_t length) {
      return std::string_view(pool + (length == 0 ? 0 : offset), length);
    };
    const uint32_t position = node.valueIndex.Find(name, hash, node.imageValueCount, [&](size_t i) {
      return text(values[i].nameOffset, values[i].nameLength);
    });
    if (position == NameIndex::kNone) return false;
    const SnapshotValue& value = values[position];
    *view = {text(value.nameOffset, value.nameLength), static_cast<ValueType>(value.type),
             text(value.textOffset, value.textLength), value.number};
    return true;
  }
  Values(key);
  const Node& built = keys_[key];
  const uint32_t position =
      built.valueIndex.Find(name, hash, built.values.size(), ValueNames(built));
  if (position == NameIndex::kNone) return false;
  const Value& value = built.values[position];
  *view = {value.name, value.type, value.text, value.number};
  return true;
}

bool KeyTree::IndexImageValues(Node& node) const {
  if (node.imageValues != nullptr) return true;
  const SnapshotKey& record = *node.image->Key(node.imageKey);
  const SnapshotValue* values = nullptr;
  const char* pool = nullptr;
  if (!node.image->ValuesInPlace(record, &values, &pool)) return false;
  // As many as a full read would build: up to the first of an unknown type.
  uint32_t count = 0;
  while (count < record.valueCount &&
         (values[count].type == static_cast<uint32_t>(ValueType::kString) ||
          values[count].type == static_cast<uint32_t>(ValueType::kInt32))) {
    ++count;
  }
  node.imageValues = values;
  node.imagePool = pool;
  node.imageValueCount = count;
  node.valueIndex.Rebuild(count, [&](size_t i) {
    return std::string_view(pool + (values[i].nameLength == 0 ? 0 : values[i].nameOffset),
                            values[i].nameLength);
  });
  return true;
}

void KeyTree::SetValue(KeyId key, Value value) {
  Values(key);
  Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(value.name, node.values.size(), ValueNames(node));
  if (position == NameIndex::kNone) {
    AddValue(key, std::move(value));
  } else {
    node.values[position] = std::move(value);
  }
}

void KeyTree::AddValue(KeyId key, Value value) {
  Values(key);
  Node& node = keys_[key];
  node.values.push_back(std::move(value));
  node.valueIndex.Appended(node.values.size(), ValueNames(node));
}

bool KeyTree::RemoveValue(KeyId key, std::string_view name) {
  Values(key);
  Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(name, node.values.size(), ValueNames(node));
  if (position == NameIndex::kNone) return false;
  node.values.erase(node.values.begin() + position);
  node.valueIndex.Rebuild(node.values.size(), ValueNames(node));
  return true;
}

KeyId KeyTree::AddImageKey(KeyId parent, std::string_view name, const Snapshot* image,
                           uint32_t imageKey) const {
  const SnapshotKey* record = image->Key(imageKey);
  KeyId id = static_cast<KeyId>(keys_.size());
  // Built in place: a listing adds every key of an image.
  Node& child = keys_.emplace_back();
  child.name.assign(name);
  child.parent = parent;
  child.image = image;
  child.imageKey = imageKey;
  child.subkeysPending = record != nullptr && record->subkeyCount > 0;
  child.valuesPending = record != nullptr && record->valueCount > 0;
  return id;
}

KeyId KeyTree::AddTopFromSnapshot(std::string_view name, const Snapshot* image) {
  Subkeys(Root());
  KeyId id = AddImageKey(Root(), name, image, 0);
  imageKeys_ += image->KeyCount();
  Node& root = keys_[Root()];
  root.subkeys.push_back(id);
  root.subkeyIndex.Appended(root.subkeys.size(), SubkeyNames(root));
  return id;
}

KeyId KeyTree::ProbeImageSubkey(KeyId parent, std::string_view name) const {
  keys_[parent].subkeyProbed = true;
  const Snapshot* image = keys_[parent].image;
  KeyId found = kNoKey;
  ForEachImageSubkey(*image, keys_[parent].imageKey, [&](uint32_t index, std::string_view stored) {
    if (stored != name) return false;
    auto [probed, isNew] = probedSubkeys_.try_emplace(ProbedKey(parent, index), kNoKey);
    if (isNew) probed->second = AddImageKey(parent, name, image, index);
    found = probed->second;
    return true;
  });
  return found;
}

void KeyTree::LoadSubkeys(KeyId key) const {
  keys_[key].subkeysPending = false;
  const Snapshot* image = keys_[key].image;
  // The subkeys a probe built, in image order like the rest.
  auto probed = keys_[key].subkeyProbed ? probedSubkeys_.lower_bound(ProbedKey(key, 0))
                                        : probedSubkeys_.end();
  // Once an image's keys are read in bulk, room for every key the images may
  // build: a listing builds them all, and moving the arena as it grows, even
  // once from one image's room to the next, cost more than the listing's own
  // work. A Get, which probes, seldom gets here.
  if (keys_.capacity() - keys_.size() < image->Key(keys_[key].imageKey)->subkeyCount) {
    keys_.reserve(keys_.size() + imageKeys_);
  }
  std::vector<KeyId> subkeys;
  ForEachImageSubkey(*image, keys_[key].imageKey, [&](uint32_t index, std::string_view name) {
    if (probed != probedSubkeys_.end() && probed->first == ProbedKey(key, index)) {
      subkeys.push_back((probed++)->second);
    } else {
      subkeys.push_back(AddImageKey(key, name, image, index));
    }
    return false;
  });
  Node& node = keys_[key];
  node.subkeys = std::move(subkeys);
  node.subkeyIndex.Rebuild(node.subkeys.size(), SubkeyNames(node));
}

template <class Use>
void KeyTree::ForEachImageValue(const Node& node, const Use& use) {
  node.image->ForEachValue(*node.image->Key(node.imageKey), use);
}

void KeyTree::VisitValues(KeyId key, void (*visit)(void* context, const ValueView& value),
                          void* context) const {
  const Node& node = keys_[key];
  if (!node.valuesPending) {
    for (const Value& value : node.values) {
      visit(context, {value.name, value.type, value.text, value.number});
    }
    return;
  }
  ForEachImageValue(
      node, [&](const SnapshotValue& stored, std::string_view name, std::string_view text) {
        visit(context, {name, static_cast<ValueType>(stored.type), text, stored.number});
      });
}

bool KeyTree::ValuesInImage(KeyId key, const Snapshot** image, const SnapshotKey** record) const {
  const Node& node = keys_[key];
  if (!node.valuesPending) return false;
  *image = node.image;
  *record = node.image->Key(node.imageKey);
  return *record != nullptr;
}

void KeyTree::ValueNamesByName(KeyId key, std::vector<std::string_view>* names) const {
  names->clear();
  const Snapshot* image = nullptr;
  const SnapshotKey* record = nullptr;
  if (ValuesInImage(key, &image, &record) &&
      image->ForEachValueByName(*record, [names](const SnapshotValue&, std::string_view name,
                                                 std::string_view) { names->push_back(name); })) {
    return;
  }
  // Built values, or an image whose order cannot be read: sorted here.
  ForEachValue(key, [names](const ValueView& value) { names->push_back(value.name); });
  std::sort(names->begin(), names->end());
}

void KeyTree::LoadValues(KeyId key) const {
  Node& node = keys_[key];
  node.valuesPending = false;
  node.imageValues = nullptr;
  const SnapshotKey& record = *node.image->Key(node.imageKey);
  node.values.reserve(std::min<uint64_t>(record.valueCount, kMaxReservedValues));
  ForEachImageValue(
      node, [&node](const SnapshotValue& stored, std::string_view name, std::string_view text) {
        Value value;
        value.name = name;
        value.type = static_cast<ValueType>(stored.type);
        value.text = text;
        value.number = stored.number;
        node.values.push_back(std::move(value));
      });
  node.valueIndex.Rebuild(node.values.size(), ValueNames(node));
}

}  // namespace cfgkit
