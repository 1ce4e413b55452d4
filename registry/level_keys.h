// The key of one section in the file of each level: where every read of the
// registry starts. Each key is reached from its parent's key by one look-up by
// name, and a section's path is split once, however many levels are opened.
//
// A read by precedence searches user_machine, user, install_machine and
// install in that order, and the admin level only when it is named; the same
// function answers Get, the previous value of a Set, the reads at one level
// and the listing. A read logs only the key opens its caller asks for
// (LogOpen); the read's own line is the caller's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "registry/registry_names.h"
#include "registry/store_key.h"
#include "registry/store_value.h"

class MorixRegistryImpl;

// A value that a read found, seen in place: valid until the store changes.
struct LevelValue {
  ConfigurationProvider provider;  // ProviderNone when no level holds it
  bool isNumber;
  std::string_view text;  // a string up to its first NUL
  int32_t number;
};

class LevelKeys {
 public:
  // The levels a read by precedence searches for `top`: the four in order
  // for HKCU, admin alone for HKLM.
  static std::span<const ConfigurationProvider> PrecedenceOf(uint32_t top);

  // Opens the keys of `section` (split at '/' and '\', empty names skipped)
  // at each of `providers`. Loads the store when it is not yet.
  void Open(MorixRegistryImpl& registry, uint32_t top, std::string_view section,
            std::span<const ConfigurationProvider> providers);

  // Opens the keys of `parent`'s subsection `name`, split as a path is.
  void OpenChild(const LevelKeys& parent, std::string_view name);

  // `provider`'s key; null when it does not exist or was not opened.
  TalRegKey KeyOf(ConfigurationProvider provider) const {
    return provider < kLevels ? keys_[provider].get() : nullptr;
  }
  // Whether `provider`'s key exists; false for a level not opened.
  bool Exists(ConfigurationProvider provider) const;

  // The value `entry` at each of `order` (at most the five levels), looked
  // up at once: views[i] has type 0 where order[i]'s key has none.
  void FindAll(std::span<const ConfigurationProvider> order, std::string_view entry,
               TalRegValueView* views) const;
  // Where in `order` the typed reads find their value in `views`, the store's
  // precedence for both types in one pass: the first string as the string
  // read takes it (a text longer than kLongestStoreText is not read) and the
  // first integer. The count of `order` (at most the five levels) where there
  // is none. Unless `integerPastString`, the search ends at the string, as a
  // read by precedence needs an integer only where there is no string.
  struct Located {
    size_t string;
    size_t integer;
  };
  Located Locate(std::span<const ConfigurationProvider> order, const TalRegValueView* views,
                 bool integerPastString) const;
  // The value at `at` (from Locate) as a read of `type` gives it: a string up
  // to its first NUL; none when `at` is the count.
  LevelValue ValueAt(std::span<const ConfigurationProvider> order, const TalRegValueView* views,
                     size_t at, int32_t type) const;
  // Logs the opens of the keys a typed read asks until it finds its value at
  // `at`: every one when `at` is the count.
  void LogOpensUpTo(std::span<const ConfigurationProvider> order, size_t at) const;
  // FindAll, then the read of `type` by `order`, its opens logged with `log`.
  LevelValue ReadFirst(std::span<const ConfigurationProvider> order, std::string_view entry,
                       int32_t type, bool log) const;
  // The store type of the value `entry` at `provider`; 0 when there is none.
  int32_t TypeOf(ConfigurationProvider provider, std::string_view entry) const;

  // The section as given to Open, or the parent's and the name joined by '/'.
  std::string_view section() const { return section_; }
  uint32_t top() const { return top_; }

  // Logs (level 5) what opening `provider`'s key by its whole path logs.
  void LogOpen(ConfigurationProvider provider) const;

 private:
  static constexpr size_t kLevels = ProviderRegistrySyntax + 1;

  MorixRegistryImpl* registry_ = nullptr;
  uint32_t top_ = 0;
  std::string section_;
  StoreKey keys_[kLevels];
  bool atRoot_[kLevels] = {};
  mutable std::string openTraces_[kLevels];  // what LogOpen writes, once made
};

// Inline: a listing reads by precedence once per entry.
inline LevelKeys::Located LevelKeys::Locate(std::span<const ConfigurationProvider> order,
                                            const TalRegValueView* views,
                                            bool integerPastString) const {
  const size_t count = std::min(order.size(), kLevels);
  Located at{count, count};
  for (size_t i = 0; i < count; ++i) {
    const TalRegValueView& view = views[i];
    if (view.type == kTalRegTypeInt32 && at.integer == count) at.integer = i;
    // A longer text is not read.
    if (view.type == kTalRegTypeString && view.text.size() <= kLongestStoreText &&
        at.string == count) {
      at.string = i;
    }
    if (at.string != count && (at.integer != count || !integerPastString)) break;
  }
  return at;
}

inline LevelValue LevelKeys::ValueAt(std::span<const ConfigurationProvider> order,
                                     const TalRegValueView* views, size_t at, int32_t type) const {
  if (at >= std::min(order.size(), kLevels)) return {ProviderNone, false, {}, 0};
  const TalRegValueView& view = views[at];
  if (type == kTalRegTypeInt32) return {order[at], true, {}, view.number};
  return {order[at], false, view.text.substr(0, view.text.find('\0')), 0};
}
