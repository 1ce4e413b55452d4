// What the commands share: splitting a key argument into section and entry,
// the key alias table, and reading one setting as text.
#pragma once

#include <string_view>
#include <vector>

#include "registry/morix_registry_impl.h"
#include "vxcore/astring.h"

struct KeyPathParts {
  const wchar_t* section;
  const wchar_t* entry;
};

// Where a key path's section ends: before its last '/' or '\', so that "a/b/c"
// has section "a/b" and entry "c". Without a separator, or with one only at
// the very start, the section is empty (0) and the entry is the whole text.
template <class Char>
size_t SectionLength(std::basic_string_view<Char> path) {
  size_t afterLast = path.size();
  while (afterLast > 0 && path[afterLast - 1] != Char('/') && path[afterLast - 1] != Char('\\')) {
    --afterLast;
  }
  return afterLast <= 1 ? 0 : afterLast - 1;
}

// Splits `keyText` where SectionLength says by overwriting that separator
// with a NUL, in place.
KeyPathParts SplitKeyPath(wchar_t* keyText);

// A family of settings that is accepted without a syntax entry.
struct KeyAlias {
  AString keyPattern;
  AString entryPattern;
  int declaredType;
  bool keyFlag;    // passed to the section's case-insensitive match
  bool entryFlag;  // passed to the entry's case-insensitive match
};

extern const std::vector<KeyAlias> KeyAliasTable;

// `pattern` with each unescaped '*' or '?' replaced by the next of `matches`
// and each escape '\c' by c.
AString SubstituteMatches(const AString& pattern, const std::vector<AString>& matches);

// True when section and entry match the row, ignoring letter case; the new
// texts then take the row's spelling with the wildcard parts as typed.
bool MatchKeyAlias(const KeyAlias& row, const AString& section, const AString& entry,
                   int& declaredType, AString& newSection, AString& newEntry);

// The declared type of the first matching alias row, rewriting section and
// entry; 0 and both untouched when none matches.
int LookupKeyAlias(AString& section, AString& entry);

// Brings section and entry to their declared spelling, the alias table's
// first, else the syntax's, and tells what declares them: the alias row's or
// the syntax's type code, -1 for a declared key without an entry, 0 for
// nothing, with `syntaxFound` set when the syntax defines the section.
int SpellSetting(MorixRegistryImpl& registry, AString& section, AString& entry, bool* syntaxFound);

// SpellSetting for the spelling alone.
void NormaliseKey(MorixRegistryImpl& registry, AString& section, AString& entry);

// Reads the setting as text with its type (2 or 4). `level` 0 searches the
// levels and comes back as the level that held the value; section and entry
// come back in their declared spelling.
bool ReadSettingValue(MorixRegistryImpl& registry, AString& value, int& type, int& level,
                      AString& section, AString& entry);

// Section, "/" and entry; the entry alone when the section is empty.
AString DisplayKey(const AString& section, const AString& entry);
