// The list GetKeys prints: every key and entry the product's syntax files
// define, merged over the files, keys depth first, each key's entries right
// after it, siblings in code-unit order.
#pragma once

#include <vector>

#include "registry/morix_registry_impl.h"
#include "vxcore/astring.h"

struct KeyCatalogueEntry {
  AString path;
  bool isValue;
};

using KeyCatalogue = std::vector<KeyCatalogueEntry>;

AString JoinKeyPath(const AString& first, const AString& second);
void CollectSyntaxKeyPaths(MorixRegistryImpl& registry, std::vector<AString>& paths,
                           const AString& parent);
void BuildKeyCatalogue(MorixRegistryImpl& registry, KeyCatalogue& catalogue);

// Keeps the entries whose whole path matches "*<pattern>*".
void FilterKeyCatalogue(KeyCatalogue& catalogue, const wchar_t* pattern, bool caseSensitive);

// The value of the entry at `path` by precedence; `level` comes back as where it was found.
bool ReadCatalogueValue(AString& value, int& level, const AString& path,
                        MorixRegistryImpl& registry);

// The line PrintKeyCatalogue prints for `entry`, reading its value.
AString CatalogueLine(const KeyCatalogueEntry& entry, MorixRegistryImpl& registry);
void PrintKeyCatalogue(const KeyCatalogue& catalogue, MorixRegistryImpl& registry);
