// The list GetKeys prints: every key and entry the product's syntax files
// define, merged over the files, keys depth first, each key's entries right
// after it, siblings in byte order; each entry with its value by precedence.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/morix_registry_impl.h"

class KeyCatalogue {
 public:
  // Walks the syntax files; each enumeration logs as the registry's do.
  void Build(MorixRegistryImpl& registry);

  // Keeps the entries whose whole path matches "*<pattern>*".
  void Filter(const wchar_t* pattern, bool caseSensitive);

  bool empty() const { return shown_ == 0; }

  // One line per entry: a key's, or an entry's with the value a Get without
  // a level finds, read (and logged) entry by entry.
  void Print(MorixRegistryImpl& registry) const;

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
  void CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent);

  std::vector<Key> keys_;
  std::vector<bool> hidden_;  // by position, once filtered
  size_t shown_ = 0;
};
