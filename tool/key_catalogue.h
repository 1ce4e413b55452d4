// The list GetKeys prints: every key and entry the product's syntax files
// define, merged over the files, keys depth first, each key's entries right
// after it, siblings in byte order; each entry with its value as a Get finds
// it. One walk over the syntax yields the list and reads each value where it
// stands (BuildKeyCatalogue, ReadCatalogueValue); PrintKeyCatalogue writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "registry/morix_registry_impl.h"

// One line of the listing, valid during the visit.
struct ListedEntry {
  // The line's path is `parent` then `leaf`: a key's path and nothing, or an
  // entry's key path with its '/' and its name (the key's path alone for an
  // empty name). A printer copies the two pieces: no line is joined only to
  // be copied again.
  std::string_view parent;
  std::string_view leaf;
  bool isKey;                // a key's own line, which has no value
  std::string_view section;  // an entry's, as a Get splits its path
  std::string_view name;
  // The read takes the spelling of another entry of the same key, whose own
  // line shows the same setting (a name another syntax file spells otherwise).
  bool readAsSibling;
  int level;  // where the value was found; 0 for none
  bool isNumber;
  std::string_view text;  // a string value
  int32_t number;         // an integer value
};

// What a listing found: the lines the syntax defines, and those shown.
struct CatalogueCount {
  size_t defined = 0;
  size_t shown = 0;
};

// Which lines a listing shows: those whose whole path matches "*<pattern>*",
// all of them for a null pattern.
struct CatalogueFilter {
  const wchar_t* pattern;
  bool caseSensitive;
};

// Walks the syntax and calls `use(const ListedEntry&)` for each line shown,
// in listing order, with the value a Get at `level` finds (0: a Get without a
// level). With a debug log the registry's enumerations run (and log) first.
template <class Use>
CatalogueCount BuildKeyCatalogue(MorixRegistryImpl& registry, const CatalogueFilter& filter,
                                 int level, Use&& use) {
  using Target = std::remove_reference_t<Use>;
  return VisitKeyCatalogue(
      registry, filter, level,
      [](void* target, const ListedEntry& entry) { (*static_cast<Target*>(target))(entry); }, &use);
}

CatalogueCount VisitKeyCatalogue(MorixRegistryImpl& registry, const CatalogueFilter& filter,
                                 int level, void (*use)(void* context, const ListedEntry& entry),
                                 void* context);

// Prints one line per entry shown, calling `header()` before the first.
CatalogueCount PrintKeyCatalogue(MorixRegistryImpl& registry, const CatalogueFilter& filter,
                                 void (*header)(const CatalogueFilter& filter));
