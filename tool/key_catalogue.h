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

  bool empty() const { return entries_.empty(); }

  // One line per entry: a key's, or an entry's with the value a Get without
  // a level finds, read (and logged) entry by entry.
  void Print(MorixRegistryImpl& registry) const;

 private:
  struct Entry {
    uint32_t pathStart;
    uint32_t pathSize;
    bool isValue;
  };
  std::string_view Path(const Entry& entry) const {
    return std::string_view(paths_).substr(entry.pathStart, entry.pathSize);
  }
  void CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent,
                       std::vector<std::string>& keyPaths);
  void Add(std::string_view keyPath, std::string_view name, bool isValue);

  std::string paths_;  // every entry's path, one after another
  std::vector<Entry> entries_;
};
