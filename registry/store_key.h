// Owns one open store key handle and closes it when it goes out of scope, so
// that every path out of an operation releases what it opened.
#pragma once

#include <span>
#include <string_view>
#include <utility>

#include "cfgkit/cfgkit.h"

class StoreKey {
 public:
  StoreKey() = default;
  StoreKey(StoreKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  StoreKey& operator=(StoreKey&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  StoreKey(const StoreKey&) = delete;
  StoreKey& operator=(const StoreKey&) = delete;
  ~StoreKey() { Close(); }

  // For the store calls that open a key into an out handle.
  // REQUIRES: no key is held.
  TalRegKey& Out() { return key_; }
  TalRegKey get() const { return key_; }

  // Opens `path` below the root (or below `parent`); false when it cannot be opened.
  bool Open(const char* path, TalRegKey parent = nullptr) {
    Close();
    return TalRegOpenKeyA(parent, path, &key_) == kTalRegOk;
  }

  void Close() {
    // A handle we hold is open; a failure here can only mean the store was
    // reloaded under us, and then there is nothing left to release.
    if (key_ != nullptr) static_cast<void>(TalRegCloseKey(key_));
    key_ = nullptr;
  }

 private:
  TalRegKey key_ = nullptr;
};

// The key at `names` below `parent` (null: the root), each name one look-up;
// with no names, `parent` again. An empty key when one is missing.
inline StoreKey OpenNames(TalRegKey parent, std::span<const std::string_view> names) {
  StoreKey key;
  if (names.empty()) {
    if (parent != nullptr) static_cast<void>(key.Open("", parent));
    return key;
  }
  for (std::string_view name : names) {
    StoreKey child;
    if (TalRegOpenSubkeyA(parent, name, &child.Out()) != kTalRegOk) return StoreKey();
    key = std::move(child);
    parent = key.get();
  }
  return key;
}
