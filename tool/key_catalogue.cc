#include "tool/key_catalogue.h"

#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

AString JoinKeyPath(const AString& first, const AString& second) {
  if (second.empty()) return first;
  if (first.empty()) return second;
  AString joined;
  joined.Format(L"%s/%s", first.c_str(), second.c_str());
  return joined;
}

void CollectSyntaxKeyPaths(MorixRegistryImpl& registry, std::vector<AString>& paths,
                           const AString& parent) {
  std::vector<AString> names;
  registry.GetSubkeyNamesFromSyntaxFiles(names, parent);
  for (const AString& name : names) {
    // A key whose name reads as empty (it begins with a NUL byte) would make
    // its parent's path again, and the walk would never end.
    if (name.empty()) continue;
    AString path = JoinKeyPath(parent, name);
    paths.push_back(path);
    CollectSyntaxKeyPaths(registry, paths, path);
  }
}

void BuildKeyCatalogue(MorixRegistryImpl& registry, KeyCatalogue& catalogue) {
  std::vector<AString> keyPaths;
  CollectSyntaxKeyPaths(registry, keyPaths, AString());
  for (const AString& keyPath : keyPaths) {
    catalogue.push_back({keyPath, false});
    std::vector<AString> entries;
    registry.GetValueNamesFromSyntaxFiles(entries, keyPath);
    for (const AString& entry : entries) catalogue.push_back({JoinKeyPath(keyPath, entry), true});
  }
}

void FilterKeyCatalogue(KeyCatalogue& catalogue, const wchar_t* pattern, bool caseSensitive) {
  AString matchPattern;
  matchPattern.Format(L"*%s*", pattern);
  KeyCatalogue kept;
  for (KeyCatalogueEntry& entry : catalogue) {
    bool matches =
        caseSensitive ? entry.path.Match(matchPattern) : entry.path.MatchNoCase(matchPattern);
    if (matches) kept.push_back(std::move(entry));
  }
  catalogue = std::move(kept);
}

bool ReadCatalogueValue(AString& value, int& level, const AString& path,
                        MorixRegistryImpl& registry) {
  AString keyText = path;
  KeyPathParts parts = SplitKeyPath(keyText.data());
  AString section = parts.section;
  AString entry = parts.entry;
  int type = kTypeNone;
  return ReadSettingValue(registry, value, type, level, section, entry);
}

AString CatalogueLine(const KeyCatalogueEntry& entry, MorixRegistryImpl& registry) {
  AString status;
  AString value;
  int level = 0;
  if (!entry.isValue) {
    status = msg::kKeyOnly;
  } else if (ReadCatalogueValue(value, level, entry.path, registry)) {
    status.Format(msg::kValueAtLevel, value.c_str(), LevelName(level).c_str());
  } else {
    status = msg::kNoValueFound;
  }
  AString line;
  line.Format(msg::kCatalogueLine, entry.path.c_str(), status.c_str());
  return line;
}

void PrintKeyCatalogue(const KeyCatalogue& catalogue, MorixRegistryImpl& registry) {
  for (const KeyCatalogueEntry& entry : catalogue) {
    core::PrintBytes(CatalogueLine(entry, registry).ASCII());
  }
}
