#include "tool/key_operations.h"

#include "tool/tool_options.h"
#include "vxcore/assert_failure.h"

const std::vector<KeyAlias> KeyAliasTable = {
    {L"Desktop/ZSRConfigurations", L"Item*", kTypeString, false, false},
};

KeyPathParts SplitKeyPath(wchar_t* keyText) {
  const size_t sectionLength = SectionLength(std::wstring_view(keyText));
  if (sectionLength == 0) return {L"", keyText};
  keyText[sectionLength] = L'\0';
  return {keyText, keyText + sectionLength + 1};
}

AString SubstituteMatches(const AString& pattern, const std::vector<AString>& matches) {
  AString result;
  size_t nextMatch = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    wchar_t c = pattern[i];
    if (c == L'\\' && i + 1 < pattern.size()) {
      result += pattern[++i];
    } else if (c == L'*' || c == L'?') {
      if (nextMatch < matches.size()) {
        result += matches[nextMatch++];
      } else {
        VX_ASSERT(!"Error substituting matches into pattern");
      }
    } else {
      result += c;
    }
  }
  return result;
}

bool MatchKeyAlias(const KeyAlias& row, const AString& section, const AString& entry,
                   int& declaredType, AString& newSection, AString& newEntry) {
  std::vector<AString> sectionMatches;
  std::vector<AString> entryMatches;
  if (!section.MatchNoCase(row.keyPattern, sectionMatches, row.keyFlag)) return false;
  if (!entry.MatchNoCase(row.entryPattern, entryMatches, row.entryFlag)) return false;
  newSection = SubstituteMatches(row.keyPattern, sectionMatches);
  newEntry = SubstituteMatches(row.entryPattern, entryMatches);
  declaredType = row.declaredType;
  return true;
}

int LookupKeyAlias(AString& section, AString& entry) {
  for (const KeyAlias& row : KeyAliasTable) {
    int declaredType = 0;
    AString newSection;
    AString newEntry;
    if (MatchKeyAlias(row, section, entry, declaredType, newSection, newEntry)) {
      section = newSection;
      entry = newEntry;
      return declaredType;
    }
  }
  return 0;
}

int SpellSetting(MorixRegistryImpl& registry, AString& section, AString& entry, bool* syntaxFound) {
  *syntaxFound = false;
  const int aliasType = LookupKeyAlias(section, entry);
  return aliasType != 0 ? aliasType : registry.LookupRegistrySyntax(section, entry, syntaxFound);
}

void NormaliseKey(MorixRegistryImpl& registry, AString& section, AString& entry) {
  bool syntaxFound = false;
  SpellSetting(registry, section, entry, &syntaxFound);
}

bool ReadSettingValue(MorixRegistryImpl& registry, AString& value, int& type, int& level,
                      AString& section, AString& entry) {
  NormaliseKey(registry, section, entry);
  if (level == 0) {
    ConfigurationProvider provider = ProviderNone;
    value = registry.GetRegistryString(provider, HKCU, section, entry, AString());
    if (provider != ProviderNone) {
      type = kTypeString;
      level = static_cast<int>(provider);
      return true;
    }
    uint32_t number = registry.GetRegistryInt(provider, HKCU, section, entry, 0);
    if (provider == ProviderNone) return false;
    type = kTypeInt32;
    level = static_cast<int>(provider);
    value.Format(L"%d", static_cast<int32_t>(number));
    return true;
  }
  uint32_t top = level == ProviderAdmin ? HKLM : HKCU;
  if (registry.ReadRegistryStringFromProvider(value, top, section, entry, level)) {
    type = kTypeString;
    return true;
  }
  uint32_t number = 0;
  if (!registry.ReadRegistryIntFromProvider(number, top, section, entry, level)) return false;
  type = kTypeInt32;
  value.Format(L"%u", number);
  return true;
}

AString DisplayKey(const AString& section, const AString& entry) {
  if (section.empty()) return entry;
  return section + L"/" + entry;
}
