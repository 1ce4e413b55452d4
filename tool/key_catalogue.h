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
    uint32_t key;  // in keyPaths_
    uint32_t nameStart;
    uint32_t nameSize;
    bool isValue;
  };
  std::string_view Name(const Entry& entry) const {
    return std::string_view(names_).substr(entry.nameStart, entry.nameSize);
  }
  // The entry's path: its key's, then "/" and its name when it has one.
  void AppendPath(std::string& out, const Entry& entry) const;
  void CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent);

  std::vector<std::string> keyPaths_;
  std::string names_;  // the entries' names, one after another
  std::vector<Entry> entries_;
};
