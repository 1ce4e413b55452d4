#include "cfgkit/key_tree.h"

#include <algorithm>
#include <utility>

namespace cfgkit {

KeyTree::KeyTree() { keys_.emplace_back(); }

KeyId KeyTree::TopLevelOf(KeyId key) const {
  while (keys_[key].parent != Root()) key = keys_[key].parent;
  return key;
}

KeyId KeyTree::FindSubkey(KeyId parent, std::string_view name) const {
  const Node& node = keys_[parent];
  uint32_t position = node.subkeyIndex.Find(name, node.subkeys.size(), SubkeyNames(node));
  return position == NameIndex::kNone ? kNoKey : node.subkeys[position];
}

KeyId KeyTree::AddSubkey(KeyId parent, std::string name) {
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
  Node& parent = keys_[keys_[key].parent];
  auto position = std::find(parent.subkeys.begin(), parent.subkeys.end(), key);
  parent.subkeys.erase(position);
  parent.subkeyIndex.Rebuild(parent.subkeys.size(), SubkeyNames(parent));

  std::vector<KeyId> pending{key};
  while (!pending.empty()) {
    Node& node = keys_[pending.back()];
    pending.pop_back();
    pending.insert(pending.end(), node.subkeys.begin(), node.subkeys.end());
    node.live = false;
    std::vector<KeyId>().swap(node.subkeys);
    std::vector<Value>().swap(node.values);
    node.subkeyIndex.Rebuild(0, SubkeyNames(node));
    node.valueIndex.Rebuild(0, ValueNames(node));
  }
}

const Value* KeyTree::FindValue(KeyId key, std::string_view name) const {
  const Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(name, node.values.size(), ValueNames(node));
  return position == NameIndex::kNone ? nullptr : &node.values[position];
}

void KeyTree::SetValue(KeyId key, Value value) {
  Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(value.name, node.values.size(), ValueNames(node));
  if (position == NameIndex::kNone) {
    AddValue(key, std::move(value));
  } else {
    node.values[position] = std::move(value);
  }
}

void KeyTree::AddValue(KeyId key, Value value) {
  Node& node = keys_[key];
  node.values.push_back(std::move(value));
  node.valueIndex.Appended(node.values.size(), ValueNames(node));
}

bool KeyTree::RemoveValue(KeyId key, std::string_view name) {
  Node& node = keys_[key];
  uint32_t position = node.valueIndex.Find(name, node.values.size(), ValueNames(node));
  if (position == NameIndex::kNone) return false;
  node.values.erase(node.values.begin() + position);
  node.valueIndex.Rebuild(node.values.size(), ValueNames(node));
  return true;
}

}  // namespace cfgkit
