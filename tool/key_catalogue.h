// The list GetKeys prints: every key and entry the product's syntax files
// define, merged over the files, keys depth first, each key's entries right
// after it, siblings in byte order; each entry with its value by precedence.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <string_view>
#include <vector>

#include "registry/morix_registry_impl.h"

// One line of the listing, valid during the visit.
struct ListedEntry {
  std::string_view path;     // the key's path, or the entry's with its name
  bool isKey;                // a key's own line, which has no value
  std::string_view section;  // an entry's, as a Get splits its path
  std::string_view name;
  int level;                 // where the value was found; 0 for none
  bool isNumber;
  std::string_view text;     // a string value
  int32_t number;            // an integer value
};

class KeyCatalogue {
 public:
  // Walks the syntax files (each enumeration logs as the registry's do) and
  // keeps the entries whose whole path matches "*<pattern>*", all of them
  // for a null pattern. False when the syntax defines nothing at all.
  bool Build(MorixRegistryImpl& registry, const wchar_t* pattern, bool caseSensitive);

  bool empty() const { return shown_ == 0; }

  // One line per entry: a key's, or an entry's with the value a Get without
  // a level finds, read (and logged) entry by entry.
  void Print(MorixRegistryImpl& registry) const;

  // Calls `use(const ListedEntry&)` for each entry shown, in listing order,
  // with the value a Get at `level` finds (0: a Get without a level).
  template <class Use>
  void ForEachListed(MorixRegistryImpl& registry, int level, Use&& use) const {
    using Target = std::remove_reference_t<Use>;
    VisitListed(
        registry, level,
        [](void* target, const ListedEntry& entry) { (*static_cast<Target*>(target))(entry); },
        &use);
  }

 private:
  // A key and its entries' names, each with a NUL after it (names are read
  // up to their first NUL).
  struct Key {
    std::string path;
    std::string names;
  };
  // Calls `visit(key, isValue, name, position)` for each entry in listing
  // order, the key's own first, whether hidden or not.
  template <class Visit>
  void ForEachEntry(Visit visit) const;
  void VisitListed(MorixRegistryImpl& registry, int level,
                   void (*visit)(void* context, const ListedEntry& entry), void* context) const;
  void Filter(const wchar_t* pattern, bool caseSensitive);
  void CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent);

  std::vector<Key> keys_;
  std::vector<bool> hidden_;  // by position, once filtered
  size_t shown_ = 0;
};
