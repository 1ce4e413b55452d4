#include "tool/key_catalogue.h"

#include <algorithm>

#include "registry/syntax_section_reader.h"

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
    bool matches = caseSensitive ? entry.path.Match(matchPattern)
                                 : entry.path.MatchNoCase(matchPattern);
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

void PrintCatalogueLine(const KeyCatalogueEntry& entry, MorixRegistryImpl& registry) {
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
  core::PrintWide(msg::kCatalogueLine, entry.path.c_str(), status.c_str());
}

void PrintKeyCatalogue(const KeyCatalogue& catalogue, MorixRegistryImpl& registry) {
  for (const KeyCatalogueEntry& entry : catalogue) PrintCatalogueLine(entry, registry);
}

namespace {

// Lists the whole catalogue section by section, as PrintKeyCatalogue would
// print what BuildKeyCatalogue collects, in the store's bytes: the 8-bit texts
// that AString widens byte by byte and prints narrowed back.
class WholeCatalogueLister {
 public:
  explicit WholeCatalogueLister(MorixRegistryImpl& registry)
      : registry_(registry),
        reader_(registry),
        keyOnly_(AString(msg::kKeyOnly).ASCII()),
        noValue_(AString(msg::kNoValueFound).ASCII()) {
    for (int level = 0; level < static_cast<int>(std::size(levelNames_)); ++level) {
      levelNames_[level] = LevelName(level).ASCII();
    }
  }

  bool Run() {
    std::vector<std::string> topNames;
    reader_.SubkeyNames(topNames);
    topNames.erase(std::remove(topNames.begin(), topNames.end(), std::string()), topNames.end());
    if (topNames.empty()) return false;
    core::PrintWide(msg::kKeysHeader);
    for (const std::string& name : topNames) ListKey(name, name);
    return true;
  }

 private:
  void ListKey(const std::string& path, const std::string& name) {
    reader_.Enter(name);
    Emit(path, std::string_view(), keyOnly_);
    std::vector<SyntaxSectionReader::Entry> entries;
    reader_.ReadEntries(entries);
    bool aliased = MatchesKeyAlias(path);
    for (const SyntaxSectionReader::Entry& entry : entries) ListEntry(path, entry, aliased);
    std::vector<std::string> names;
    reader_.SubkeyNames(names);
    for (const std::string& subkey : names) {
      if (!subkey.empty()) ListKey(path + "/" + subkey, subkey);
    }
    reader_.Leave();
  }

  void ListEntry(const std::string& section, const SyntaxSectionReader::Entry& entry,
                 bool aliased) {
    // Entries that the alias table covers, and names that do not split back
    // into this section and name, take the registry's own way.
    std::string_view name = entry.name;
    bool plain = !aliased && !name.empty() && !HasSeparator(name);
    switch (plain ? entry.answer : SyntaxSectionReader::Answer::kAskRegistry) {
      case SyntaxSectionReader::Answer::kFound:
        status_.assign("value is <");
        if (entry.isNumber) {
          status_.append(std::to_string(entry.number));
        } else {
          status_.append(entry.text);
        }
        status_.append("> at level <").append(levelNames_[entry.provider]).append(">");
        Emit(section, name, status_);
        break;
      case SyntaxSectionReader::Answer::kNotFound:
        Emit(section, name, noValue_);
        break;
      case SyntaxSectionReader::Answer::kAskRegistry:
        PrintCatalogueLine(
            {JoinKeyPath(AString(section.c_str()), AString::FromBytes(name)), true}, registry_);
        break;
    }
  }

  static bool HasSeparator(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; });
  }

  static bool MatchesKeyAlias(const std::string& section) {
    AString wide(section.c_str());
    for (const KeyAlias& row : KeyAliasTable) {
      if (wide.MatchNoCase(row.keyPattern)) return true;
    }
    return false;
  }

  // Prints the line of the key `section`, or of its entry `name` when given.
  void Emit(const std::string& section, std::string_view name, const std::string& status) {
    line_.assign(section);
    if (!name.empty()) line_.append("/").append(name);
    line_.append(": ").append(status).append("\n");
    core::PrintBytes(line_);
  }

  MorixRegistryImpl& registry_;
  SyntaxSectionReader reader_;
  const std::string keyOnly_;
  const std::string noValue_;
  std::string levelNames_[ProviderAdmin + 1];
  std::string status_, line_;
};

}  // namespace

bool PrintWholeKeyCatalogue(MorixRegistryImpl& registry) {
  return WholeCatalogueLister(registry).Run();
}
