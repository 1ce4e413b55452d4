#include "tool/key_catalogue.h"

#include <algorithm>
#include <charconv>

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

// The status of an aliased entry, through ReadSettingValue.
void AppendAliasedStatus(std::string& line, MorixRegistryImpl& registry, std::string_view section,
                         std::string_view name) {
  AString wideSection = AString::FromBytes(section);
  AString wideEntry = AString::FromBytes(name);
  AString value;
  int type = kTypeNone;
  int level = 0;
  if (!ReadSettingValue(registry, value, type, level, wideSection, wideEntry)) {
    line.append(msg::kNoValueFound);
    return;
  }
  line.append(msg::kValueIs).append(value.ASCII()).append(msg::kAtLevel);
  line.append(LevelName(level).ASCII()).append(msg::kLevelEnd);
}

}  // namespace

void KeyCatalogue::AppendPath(std::string& out, const Entry& entry) const {
  out.append(keyPaths_[entry.key]);
  if (entry.nameSize > 0) out.append("/").append(Name(entry));
}

void KeyCatalogue::CollectKeyPaths(MorixRegistryImpl& registry, const std::string& parent) {
  std::vector<std::string> names;
  registry.GetSubkeyNamesFromSyntaxFiles(names, parent);
  for (const std::string& name : names) {
    // A key whose name reads as empty (it begins with a NUL byte) would make
    // its parent's path again, and the walk would never end.
    if (name.empty()) continue;
    const std::string path = parent.empty() ? name : parent + "/" + name;
    keyPaths_.push_back(path);
    CollectKeyPaths(registry, path);
  }
}

void KeyCatalogue::Build(MorixRegistryImpl& registry) {
  CollectKeyPaths(registry, std::string());
  std::vector<std::string> names;
  for (uint32_t key = 0; key < keyPaths_.size(); ++key) {
    entries_.push_back({key, 0, 0, false});
    names.clear();
    registry.GetValueNamesFromSyntaxFiles(names, keyPaths_[key]);
    for (const std::string& name : names) {
      entries_.push_back(
          {key, static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(name.size()), true});
      names_.append(name);
    }
  }
}

void KeyCatalogue::Filter(const wchar_t* pattern, bool caseSensitive) {
  AString matchPattern;
  matchPattern.Format(L"*%s*", pattern);
  std::string bytes;
  AString path;
  size_t kept = 0;
  for (const Entry& entry : entries_) {
    bytes.clear();
    AppendPath(bytes, entry);
    path.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) path[i] = static_cast<unsigned char>(bytes[i]);
    if (caseSensitive ? path.Match(matchPattern) : path.MatchNoCase(matchPattern)) {
      entries_[kept++] = entry;
    }
  }
  entries_.resize(kept);
}

void KeyCatalogue::Print(MorixRegistryImpl& registry) const {
  SectionValueReader reader(registry);
  std::string levelNames[ProviderAdmin + 1];
  for (int level = ProviderUserMachine; level <= static_cast<int>(ProviderAdmin); ++level) {
    levelNames[level] = LevelName(level).ASCII();
  }
  std::string aliasSection;
  bool aliased = false;
  bool aliasChecked = false;
  std::string out;
  out.reserve(2 * kOutputBlock);
  char number[16];
  std::string path;
  for (const Entry& entry : entries_) {
    AppendPath(out, entry);
    out.append(msg::kCatalogueSeparator);
    if (!entry.isValue) {
      out.append(msg::kKeyOnly);
    } else {
      // A plain name splits off its path where it was joined on.
      const std::string_view plainName = Name(entry);
      std::pair<std::string_view, std::string_view> parts(keyPaths_[entry.key], plainName);
      if (plainName.empty() || std::any_of(plainName.begin(), plainName.end(), IsSeparator)) {
        path.clear();
        AppendPath(path, entry);
        parts = SplitPath(path);
      }
      const auto [section, name] = parts;
      if (!aliasChecked || section != aliasSection) {
        aliasChecked = true;
        aliasSection.assign(section);
        aliased = MayBeAliased(section);
      }
      if (aliased) {
        AppendAliasedStatus(out, registry, section, name);
      } else {
        const SectionValueReader::Setting setting = reader.Read(section, name);
        if (setting.provider == ProviderNone) {
          out.append(msg::kNoValueFound);
        } else {
          out.append(msg::kValueIs);
          if (setting.isNumber) {
            out.append(number, std::to_chars(number, number + sizeof number, setting.number).ptr);
          } else {
            out.append(setting.text);
          }
          out.append(msg::kAtLevel).append(levelNames[setting.provider]).append(msg::kLevelEnd);
        }
      }
    }
    out.push_back('\n');
    if (out.size() >= kOutputBlock) {
      core::PrintBytes(out);
      out.clear();
    }
  }
  core::PrintBytes(out);
}
