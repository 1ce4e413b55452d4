#include "tool/catalogue_listing.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "registry/syntax_section_reader.h"
#include "tool/key_catalogue.h"
#include "tool/key_operations.h"
#include "tool/messages.h"
#include "tool/tool_options.h"
#include "vxcore/console_output.h"

namespace {

// Works in the store's bytes: the 8-bit texts that AString widens byte by
// byte and prints narrowed back, so the bytes printed are the same.
class CatalogueLister {
 public:
  CatalogueLister(MorixRegistryImpl& registry, const wchar_t* pattern, bool caseSensitive)
      : registry_(registry),
        reader_(registry),
        filtered_(pattern != nullptr),
        caseSensitive_(caseSensitive),
        keyOnly_(AString(msg::kKeyOnly).ASCII()),
        noValue_(AString(msg::kNoValueFound).ASCII()) {
    if (filtered_) matchPattern_.Format(L"*%s*", pattern);
    for (int level = 0; level < static_cast<int>(std::size(levelNames_)); ++level) {
      levelNames_[level] = LevelName(level).ASCII();
    }
  }

  // False when the catalogue is empty: nothing was listed.
  bool Run() {
    std::vector<std::string> topNames;
    reader_.SubkeyNames(topNames);
    topNames.erase(std::remove(topNames.begin(), topNames.end(), std::string()), topNames.end());
    if (topNames.empty()) return false;
    // Unfiltered, the header comes first whatever follows; filtered, the
    // lines wait until it is known whether any matched.
    if (!filtered_) core::PrintWide(msg::kKeysHeader);
    for (const std::string& name : topNames) ListKey(name, name);
    return true;
  }

  const std::string& matchedLines() const { return matched_; }

 private:
  void ListKey(const std::string& path, const std::string& name) {
    reader_.Enter(name);
    if (Wanted(path)) Output(path, std::string_view(), keyOnly_);
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
    std::string_view name = entry.name;
    // The catalogue's path of the entry: an empty name adds nothing.
    if (filtered_ && !Wanted(name.empty() ? section : section + "/" + std::string(name))) return;
    // Entries that the alias table covers, and names that do not split back
    // into this section and name, take the registry's own way.
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
        Output(section, name, status_);
        break;
      case SyntaxSectionReader::Answer::kNotFound:
        Output(section, name, noValue_);
        break;
      case SyntaxSectionReader::Answer::kAskRegistry:
        line_ =
            CatalogueLine({JoinKeyPath(AString(section.c_str()), AString::FromBytes(name)), true},
                          registry_)
                .ASCII();
        Output(line_);
        break;
    }
  }

  bool Wanted(const std::string& path) const {
    if (!filtered_) return true;
    AString wide(path.c_str());
    return caseSensitive_ ? wide.Match(matchPattern_) : wide.MatchNoCase(matchPattern_);
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

  // The line of the key `section`, or of its entry `name` when given.
  void Output(const std::string& section, std::string_view name, const std::string& status) {
    line_.assign(section);
    if (!name.empty()) line_.append("/").append(name);
    line_.append(": ").append(status).append("\n");
    Output(line_);
  }

  void Output(const std::string& line) {
    if (filtered_) {
      matched_ += line;
    } else {
      core::PrintBytes(line);
    }
  }

  MorixRegistryImpl& registry_;
  SyntaxSectionReader reader_;
  const bool filtered_;
  const bool caseSensitive_;
  AString matchPattern_;
  const std::string keyOnly_;
  const std::string noValue_;
  std::string levelNames_[ProviderAdmin + 1];
  std::string status_, line_;
  std::string matched_;
};

}  // namespace

void ListKeyCatalogue(MorixRegistryImpl& registry, const wchar_t* pattern, bool caseSensitive) {
  CatalogueLister lister(registry, pattern, caseSensitive);
  if (!lister.Run()) {
    core::PrintWide(msg::kNoKeys);
  } else if (pattern != nullptr && lister.matchedLines().empty()) {
    core::PrintWide(caseSensitive ? msg::kNoMatchCaseSensitive : msg::kNoMatchCaseInsensitive,
                    pattern);
  } else if (pattern != nullptr) {
    core::PrintWide(caseSensitive ? msg::kMatchingCaseSensitive : msg::kMatchingCaseInsensitive,
                    pattern);
    core::PrintBytes(lister.matchedLines());
  }
}
