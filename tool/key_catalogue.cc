#include "tool/key_catalogue.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "registry/section_value_reader.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

namespace {

constexpr size_t kOutputBlock = 1 << 16;

// A plain loop: find_first_of searches the set once per character.
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The entry's section and name as SplitKeyPath cuts its path.
std::pair<std::string_view, std::string_view> SplitPath(std::string_view path) {
  size_t last = path.size();
  while (last > 0 && !IsSeparator(path[last - 1])) --last;
  if (last <= 1) return {std::string_view(), path};
  --last;
  return {path.substr(0, last), path.substr(last + 1)};
}

// Whether an entry of `section` may be one the alias table accepts: those are
// read the way a Get reads them.
bool MayBeAliased(std::string_view section) {
  const AString wide = AString::FromBytes(section);
  for (const KeyAlias& row : KeyAliasTable) {
    if (wide.MatchNoCase(row.keyPattern)) return true;
  }
  return false;
}

// Reads an entry as a Get does, through ReadSettingValue: the way for
// entries the alias table accepts, and for reads at a named level.
void ReadAsGet(MorixRegistryImpl& registry, int level, std::string_view section,
               std::string_view name, std::string* text, ListedEntry* entry) {
  AString wideSection = AString::FromBytes(section);
  AString wideEntry = AString::FromBytes(name);
  AString value;
  int type = kTypeNone;
  entry->level = level;
  if (!ReadSettingValue(registry, value, type, entry->level, wideSection, wideEntry)) {
    entry->level = 0;
    return;
  }
  entry->isNumber = type == kTypeInt32;
  if (entry->isNumber) {
    value.IsNumber(entry->number, 10);
  } else {
    *text = value.ASCII();
    entry->text = *text;
  }
}

}  // namespace

template <class Visit>
void KeyCatalogue::ForEachEntry(Visit visit) const {
  size_t position = 0;
  for (const Key& key : keys_) {
    visit(key, false, std::string_view(), position++);
    for (size_t at = 0; at < key.names.size(); ++position) {
      const std::string_view name(key.names.c_str() + at);
      visit(key, true, name, position);
      at += name.size() + 1;
    }
  }
}

void KeyCatalogue::CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent) {
  std::vector<std::string> names;
  registry.GetSubkeyNamesFromSyntaxFiles(names, parent);
  for (const std::string& name : names) {
    // A key whose name reads as empty (it begins with a NUL byte) would make
    // its parent's path again, and the walk would never end.
    if (name.empty()) continue;
    const std::string path = parent.empty() ? name : parent + "/" + name;
    keys_.push_back({path, std::string()});
    CollectKeyPaths(registry, path);
  }
}

bool KeyCatalogue::Build(MorixRegistryImpl& registry, const wchar_t* pattern,
                         bool caseSensitive) {
  CollectKeyPaths(registry, std::string());
  std::vector<std::string> names;
  for (Key& key : keys_) {
    names.clear();
    registry.GetValueNamesFromSyntaxFiles(names, key.path);
    size_t size = 0;
    for (const std::string& name : names) size += name.size() + 1;
    key.names.reserve(size);
    for (const std::string& name : names) key.names.append(name).push_back('\0');
    shown_ += 1 + names.size();
  }
  if (shown_ == 0) return false;
  if (pattern != nullptr) Filter(pattern, caseSensitive);
  return true;
}

void KeyCatalogue::Filter(const wchar_t* pattern, bool caseSensitive) {
  AString matchPattern;
  matchPattern.Format(L"*%s*", pattern);
  hidden_.assign(shown_, false);
  shown_ = 0;
  AString path;
  ForEachEntry([&](const Key& key, bool, std::string_view name, size_t position) {
    const std::string_view bytes[] = {key.path, name.empty() ? "" : "/", name};
    path.clear();
    for (std::string_view part : bytes) {
      for (char c : part) path.push_back(static_cast<unsigned char>(c));
    }
    if (caseSensitive ? path.Match(matchPattern) : path.MatchNoCase(matchPattern)) {
      ++shown_;
    } else {
      hidden_[position] = true;
    }
  });
}

void KeyCatalogue::VisitListed(MorixRegistryImpl& registry, int level,
                               void (*visit)(void* context, const ListedEntry& entry),
                               void* context) const {
  SectionValueReader reader(registry);
  const Key* lastKey = nullptr;
  bool keyAliased = false;
  std::string path;
  std::string readText;
  ForEachEntry([&](const Key& key, bool isValue, std::string_view entryName, size_t position) {
    if (!hidden_.empty() && hidden_[position]) return;
    ListedEntry entry{};
    if (!isValue) {
      entry.path = key.path;
      entry.isKey = true;
      visit(context, entry);
      return;
    }
    path.assign(key.path);
    if (!entryName.empty()) path.append(1, '/').append(entryName);
    entry.path = path;
    if (&key != lastKey) {
      lastKey = &key;
      keyAliased = MayBeAliased(key.path);
    }
    // A plain name splits off its path where it was joined on.
    entry.section = key.path;
    entry.name = entryName;
    bool aliased = keyAliased;
    if (entryName.empty() || std::any_of(entryName.begin(), entryName.end(), IsSeparator)) {
      std::tie(entry.section, entry.name) = SplitPath(entry.path);
      aliased = MayBeAliased(entry.section);
    }
    if (aliased || level != 0) {
      ReadAsGet(registry, level, entry.section, entry.name, &readText, &entry);
    } else {
      const SectionValueReader::Setting setting = reader.Read(entry.section, entry.name);
      entry.level = setting.provider == ProviderNone ? 0 : static_cast<int>(setting.provider);
      entry.isNumber = setting.isNumber;
      entry.text = setting.text;
      entry.number = setting.number;
    }
    visit(context, entry);
  });
}

void KeyCatalogue::Print(MorixRegistryImpl& registry) const {
  // The line's pieces after its path, joined once.
  const std::string keyOnly = std::string(msg::kCatalogueSeparator).append(msg::kKeyOnly) + "\n";
  const std::string noValue =
      std::string(msg::kCatalogueSeparator).append(msg::kNoValueFound) + "\n";
  const std::string valueIs = std::string(msg::kCatalogueSeparator).append(msg::kValueIs);
  std::string atLevel[LevelAdmin + 1];
  for (int level = LevelUserMachine; level <= LevelAdmin; ++level) {
    atLevel[level] =
        std::string(msg::kAtLevel) + LevelName(level).ASCII() + std::string(msg::kLevelEnd) + "\n";
  }
  std::string out;
  out.reserve(2 * kOutputBlock);
  char number[16];
  ForEachListed(registry, 0, [&](const ListedEntry& entry) {
    out.append(entry.path);
    if (entry.isKey) {
      out.append(keyOnly);
    } else if (entry.level == 0) {
      out.append(noValue);
    } else {
      out.append(valueIs);
      if (entry.isNumber) {
        out.append(number, std::to_chars(number, number + sizeof number, entry.number).ptr);
      } else {
        out.append(entry.text);
      }
      out.append(atLevel[entry.level]);
    }
    if (out.size() >= kOutputBlock) {
      core::PrintBytes(out);
      out.clear();
    }
  });
  core::PrintBytes(out);
}
