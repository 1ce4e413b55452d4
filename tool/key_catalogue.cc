#include "tool/key_catalogue.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "registry/byte_text.h"
#include "registry/syntax_walk.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/output_blocks.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"
#include "vxcore/tal_debug.h"

namespace {

// A name holding a separator splits elsewhere than where the walk joined it.
[[gnu::always_inline]] inline bool HasSeparator(std::string_view text) {
  return HoldsEither(text, '/', '\\');
}

// Whether an entry of `section` may be one the alias table accepts.
bool MayBeAliased(std::string_view section) {
  // Asked of every key: a pattern of plain characters only matches a section
  // as long as itself, which spares most keys the wide copy.
  static const std::vector<bool> plain = [] {
    std::vector<bool> rows;
    for (const KeyAlias& row : KeyAliasTable) {
      rows.push_back(row.keyPattern.find_first_of(L"*?\\") == AString::npos);
    }
    return rows;
  }();
  for (size_t i = 0; i < KeyAliasTable.size(); ++i) {
    const AString& pattern = KeyAliasTable[i].keyPattern;
    if (plain[i] && pattern.size() != section.size()) continue;
    if (AString::FromBytes(section).MatchNoCase(pattern)) return true;
  }
  return false;
}

// The registry's enumerations of the listing, for their log lines alone: every
// key path depth first, then each key's entry names.
void CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent,
                     std::vector<std::string>& paths) {
  std::vector<std::string> names;
  registry.GetSubkeyNamesFromSyntaxFiles(names, parent);
  for (const std::string& name : names) {
    // As the walk: a name that names no key would make its parent's path again.
    if (std::all_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; })) {
      continue;
    }
    const std::string path = parent.empty() ? name : parent + "/" + name;
    paths.push_back(path);
    CollectKeyPaths(registry, path, paths);
  }
}

void LogEnumerations(MorixRegistryImpl& registry) {
  std::vector<std::string> paths;
  CollectKeyPaths(registry, std::string(), paths);
  std::vector<std::string> names;
  for (const std::string& path : paths) {
    names.clear();
    registry.GetValueNamesFromSyntaxFiles(names, path);
  }
}

// Reads each entry as ReadSettingValue would, at the walk's keys when the
// spelling the read takes is the walk's own, else at the keys of the
// respelled section.
class CatalogueReader {
 public:
  CatalogueReader(MorixRegistryImpl& registry, int level) : registry_(registry), level_(level) {
    if (level == 0) {
      providers_ = LevelKeys::PrecedenceOf(HKCU);
    } else {
      only_[0] = static_cast<ConfigurationProvider>(level);
      providers_ = only_;
    }
    top_ = level == ProviderAdmin ? HKLM : HKCU;
  }

  std::span<const ConfigurationProvider> providers() const { return providers_; }
  uint32_t top() const { return top_; }

  // Called for each key of the walk before its entries are read: looks up
  // all of them at once when none needs a look-up of its own, since values
  // seen in place last only until the next call on the store.
  void StartKey(const SyntaxWalkKey& key) {
    keyMayBeAliased_ = MayBeAliased(key.path);
    batched_ = !keyMayBeAliased_;
    for (size_t i = 0; batched_ && i < key.names.size(); ++i) {
      const std::string_view name = key.names[i];
      batched_ = key.spelledAsDefined[i] && !name.empty() && !HasSeparator(name);
    }
    if (batched_) SyntaxWalk::FindEntries(key, providers_, rows_);
  }

  // ReadCatalogueValue for the key's entry `index`: `entry` holds the line's
  // path; the rest is filled in.
  void Read(const SyntaxWalkKey& key, size_t index, ListedEntry& entry) {
    const std::string_view name = key.names[index];
    entry.section = key.path;
    entry.name = name;
    bool atWalk = true;
    // A batched key's names were all found to split where the walk joined them.
    if (!batched_ && (name.empty() || HasSeparator(name))) {
      // The path splits elsewhere than where the walk joined it.
      Split(entry);
      atWalk = false;
    }
    const bool mayBeAliased = atWalk ? keyMayBeAliased_ : MayBeAliased(entry.section);
    std::string_view section = entry.section, spelled = entry.name;
    const bool respelled = mayBeAliased || !atWalk || !key.spelledAsDefined[index];
    if (respelled) {
      Respell(entry.section, entry.name);
      section = respelledSection_;
      spelled = respelledName_;
    }
    entry.readAsSibling = atWalk && respelled && spelled != name && section == key.path &&
                          std::binary_search(key.names.begin(), key.names.end(), spelled);
    const LevelKeys* keys = &key.levels;
    if (!atWalk || (respelled && section != key.path)) {
      elsewhere_.Open(registry_, top_, section, providers_);
      keys = &elsewhere_;
    }
    // What the walk found answers when the read asks the walk's keys by the
    // walk's name.
    const bool asWalked = keys == &key.levels && (!respelled || spelled == name);
    const TalRegValueView* found =
        batched_ && asWalked ? rows_.data() + index * providers_.size() : nullptr;
    const LevelValue value = level_ == 0
                                 ? registry_.ReadSetting(*keys, spelled, found)
                                 : registry_.ReadSettingAt(*keys, providers_[0], spelled, found);
    entry.level = static_cast<int>(value.provider);
    entry.isNumber = value.isNumber;
    entry.text = value.text;
    entry.number = value.number;
  }

 private:
  // The section and name as SplitKeyPath cuts the line's path.
  void Split(ListedEntry& entry) {
    joined_.assign(entry.parent).append(entry.leaf);
    const std::string_view path = joined_;
    const size_t sectionLength = SectionLength(path);
    entry.section = path.substr(0, sectionLength);
    entry.name = sectionLength == 0 ? path : path.substr(sectionLength + 1);
  }

  // The spelling NormaliseKey gives: the alias table's, else the syntax's.
  void Respell(std::string_view section, std::string_view name) {
    AString wideSection = AString::FromBytes(section);
    AString wideName = AString::FromBytes(name);
    NormaliseKey(registry_, wideSection, wideName);
    respelledSection_ = wideSection.ASCII();
    respelledName_ = wideName.ASCII();
  }

  MorixRegistryImpl& registry_;
  int level_;
  uint32_t top_;
  ConfigurationProvider only_[1] = {};
  std::span<const ConfigurationProvider> providers_;
  bool keyMayBeAliased_ = false;
  bool batched_ = false;  // rows_ holds the key's entries
  std::vector<TalRegValueView> rows_;
  std::string respelledSection_, respelledName_;
  std::string joined_;  // the path Split cuts
  LevelKeys elsewhere_;
};

// Whether a line's path matches the filter; every line without a pattern.
class PathMatch {
 public:
  explicit PathMatch(const CatalogueFilter& filter) : filter_(filter) {
    if (filter.pattern != nullptr) pattern_.Format(L"*%s*", filter.pattern);
  }

  bool operator()(std::string_view parent, std::string_view leaf = {}) {
    if (filter_.pattern == nullptr) return true;
    wide_.resize(parent.size() + leaf.size());
    for (size_t i = 0; i < parent.size(); ++i) wide_[i] = static_cast<unsigned char>(parent[i]);
    for (size_t i = 0; i < leaf.size(); ++i) {
      wide_[parent.size() + i] = static_cast<unsigned char>(leaf[i]);
    }
    return filter_.caseSensitive ? wide_.Match(pattern_) : wide_.MatchNoCase(pattern_);
  }

 private:
  const CatalogueFilter& filter_;
  AString pattern_;
  AString wide_;
};

}  // namespace

CatalogueCount VisitKeyCatalogue(MorixRegistryImpl& registry, const CatalogueFilter& filter,
                                 int level, void (*use)(void* context, const ListedEntry& entry),
                                 void* context) {
  if (my_tal_debug_data.Debug(5)) LogEnumerations(registry);
  CatalogueReader reader(registry, level);
  PathMatch matches(filter);
  CatalogueCount count;
  std::string parent;
  SyntaxWalk::Run(registry, reader.top(), reader.providers(), [&](const SyntaxWalkKey& key) {
    count.defined += 1 + key.names.size();
    ListedEntry entry{};
    entry.parent = key.path;
    entry.isKey = true;
    if (matches(key.path)) {
      ++count.shown;
      use(context, entry);
    }
    entry.isKey = false;
    reader.StartKey(key);
    parent.assign(key.path).push_back('/');
    for (size_t i = 0; i < key.names.size(); ++i) {
      const std::string_view name = key.names[i];
      // An empty name joins on nothing.
      entry.parent = name.empty() ? key.path : std::string_view(parent);
      entry.leaf = name;
      if (!matches(entry.parent, entry.leaf)) continue;
      ++count.shown;
      reader.Read(key, i, entry);
      use(context, entry);
    }
  });
  return count;
}

CatalogueCount PrintKeyCatalogue(MorixRegistryImpl& registry, const CatalogueFilter& filter,
                                 void (*header)(const CatalogueFilter& filter)) {
  // The line's pieces after its path, joined once.
  const std::string keyOnly = std::string(msg::kCatalogueSeparator).append(msg::kKeyOnly) + "\n";
  const std::string noValue =
      std::string(msg::kCatalogueSeparator).append(msg::kNoValueFound) + "\n";
  const std::string valueIs = std::string(msg::kCatalogueSeparator).append(msg::kValueIs);
  std::string atLevel[ProviderAdmin + 1];
  for (int level = ProviderUserMachine; level <= ProviderAdmin; ++level) {
    atLevel[level] =
        std::string(msg::kAtLevel) + LevelName(level).ASCII() + std::string(msg::kLevelEnd) + "\n";
  }
  OutputBlocks out([](void*, std::string_view bytes) { core::PrintBytes(bytes); }, nullptr);
  char number[16];
  bool first = true;
  const CatalogueCount count =
      BuildKeyCatalogue(registry, filter, 0, [&](const ListedEntry& entry) {
        if (first) {
          first = false;
          header(filter);
        }
        if (entry.isKey) {
          out.Put(entry.parent, entry.leaf, std::string_view(keyOnly));
        } else if (entry.level == 0) {
          out.Put(entry.parent, entry.leaf, std::string_view(noValue));
        } else if (entry.isNumber) {
          const char* end = std::to_chars(number, number + sizeof number, entry.number).ptr;
          out.Put(entry.parent, entry.leaf, std::string_view(valueIs),
                  std::string_view(number, end), std::string_view(atLevel[entry.level]));
        } else {
          out.Put(entry.parent, entry.leaf, std::string_view(valueIs), entry.text,
                  std::string_view(atLevel[entry.level]));
        }
      });
  out.Finish();
  return count;
}
