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

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "registry/registry_names.h"
#include "registry/store_key.h"

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
  // The first of `order` whose value in `views` is a `type`, as the store's
  // typed reads take it: a string longer than kLongestStoreText is not read,
  // and one is read up to its first NUL. With `log`, each level asked is
  // logged as its key's open (LogOpen).
  LevelValue Pick(std::span<const ConfigurationProvider> order, const TalRegValueView* views,
                  int32_t type, bool log) const;
  // Pick of a string, else of an integer, in one pass over `views`: what the
  // two Picks give when nothing is logged.
  LevelValue PickStringElseInteger(std::span<const ConfigurationProvider> order,
                                   const TalRegValueView* views) const;
  // FindAll, then Pick.
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
