// Listing subkey and entry names per provider, merged over providers, and
// merged over the syntax files.
#include <algorithm>
#include <cstdint>
#include <set>

#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_names.h"
#include "vxcore/tal_debug.h"

namespace {

// The first eight bytes of `text` as a number that orders as the bytes do
// (unsigned, zero-padded): equal prefixes leave the rest to compare.
uint64_t BytePrefix(std::string_view text) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) {
    prefix = prefix << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
  }
  return prefix;
}

// Each name followed by "\n"; built only for the level-5 lines.
AString JoinNames(const std::vector<AString>& names) {
  AString joined;
  for (const AString& name : names) joined += name + L"\n";
  return joined;
}

// Appends the names of `key`'s subkeys (or values) in store order.
void AppendNames(TalRegKey key, bool subkeys, std::vector<AString>& names) {
  ForEachStoreName(key, subkeys,
                   [&names](std::string_view name) { names.push_back(AString::FromBytes(name)); });
}

}  // namespace

bool MorixRegistryImpl::GetSubkeyNames(std::vector<AString>& names, uint32_t top,
                                       const AString& section, uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  names.clear();
  StoreKey key;
  bool opened = GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), false);
  if (opened) {
    AppendNames(key.get(), true, names);
    key.Close();
  } else {
    TalDebug(5,
             L"Info: MorixRegistry GetSubkeyNames(): No subkey names found; top=%s, section='%s', "
             L"provider=%s.\n",
             GetTopName(top).c_str(), section.c_str(), GetProviderName(provider).c_str());
  }
  if (opened && my_tal_debug_data.Level() >= 5) {
    TalDebug(5,
             L"Info: MorixRegistry GetSubkeyNames(): top=%s, section='%s', provider=%s;\n"
             L"Names:\n%s\n",
             GetTopName(top).c_str(), section.c_str(), GetProviderName(provider).c_str(),
             JoinNames(names).c_str());
  }
  return opened;
}

bool MorixRegistryImpl::GetSubkeyNames(std::vector<AString>& names, uint32_t top,
                                       const AString& section) {
  names.clear();
  bool found = false;
  if (top == HKLM) {
    found = GetSubkeyNames(names, top, section, ProviderAdmin);
  } else {
    std::set<AString> merged;
    std::vector<AString> providerNames;
    for (ConfigurationProvider provider : kProviderPrecedence) {
      if (!GetSubkeyNames(providerNames, top, section, provider)) continue;
      found = true;
      merged.insert(providerNames.begin(), providerNames.end());
    }
    if (found) names.assign(merged.begin(), merged.end());
  }
  if (!found) {
    TalDebug(5,
             L"Info: MorixRegistry GetSubkeyNames(): No subkey names found; top=%s, "
             L"section='%s'.\n",
             GetTopName(top).c_str(), section.c_str());
  } else if (my_tal_debug_data.Level() >= 5) {
    TalDebug(5, L"Info: MorixRegistry GetSubkeyNames(): top=%s, section='%s';\nNames:\n%s\n",
             GetTopName(top).c_str(), section.c_str(), JoinNames(names).c_str());
  }
  return found;
}

void MorixRegistryImpl::GetNamesFromSingleSyntaxFile(std::vector<std::string>& names,
                                                     std::string_view section,
                                                     const AString& rootKeyName, bool subkeys) {
  EnsureMorixRegistryIsLoaded();
  names.clear();
  std::string path = rootKeyName.ASCII();
  if (!section.empty()) path.append("/").append(section);
  StoreKey key;
  if (GetMorixRegistryKey(key.Out(), path, false)) {
    ForEachStoreName(key.get(), subkeys,
                     [&names](std::string_view name) { names.emplace_back(name); });
    key.Close();
  }
  if (!my_tal_debug_data.Debug(5)) return;
  const wchar_t* operation =
      subkeys ? L"GetSubkeyNamesFromSingleSyntaxFile" : L"GetValueNamesFromSingleSyntaxFile";
  const int sectionSize = static_cast<int>(section.size());
  if (names.empty()) {
    TalDebug(5, L"Info: MorixRegistry %s(): Key not found; Root Key Name=%s, section='%.*hs'.\n",
             operation, rootKeyName.c_str(), sectionSize, section.data());
    return;
  }
  std::string joined;
  for (const std::string& name : names) joined.append(name).append("\n");
  TalDebug(5, L"Info: MorixRegistry %s(): Root Key Name=%s, section='%.*hs';\nNames:\n%hs\n",
           operation, rootKeyName.c_str(), sectionSize, section.data(), joined.c_str());
}

void MorixRegistryImpl::GetSubkeyNamesFromSingleSyntaxFile(std::vector<std::string>& names,
                                                           std::string_view section,
                                                           const AString& rootKeyName) {
  GetNamesFromSingleSyntaxFile(names, section, rootKeyName, true);
}

void MorixRegistryImpl::GetValueNamesFromSingleSyntaxFile(std::vector<std::string>& names,
                                                          std::string_view section,
                                                          const AString& rootKeyName) {
  GetNamesFromSingleSyntaxFile(names, section, rootKeyName, false);
}

void MorixRegistryImpl::MergeNamesFromSyntaxFiles(std::vector<std::string>& names,
                                                  std::string_view section, bool subkeys) {
  EnsureMorixRegistryIsLoaded();
  std::vector<std::vector<std::string>> fileNames(GetNumSyntaxFiles());
  // Views sort much faster than the strings themselves, and most pairs of
  // names differ in their first eight bytes, compared as one number.
  struct Name {
    uint64_t prefix;
    std::string_view text;
    bool operator<(const Name& other) const {
      return prefix != other.prefix ? prefix < other.prefix : text < other.text;
    }
  };
  std::vector<Name> merged;
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    GetNamesFromSingleSyntaxFile(fileNames[i], section, GetSyntaxRootKeyName(i), subkeys);
    for (const std::string& name : fileNames[i]) merged.push_back({BytePrefix(name), name});
  }
  std::sort(merged.begin(), merged.end());
  for (size_t i = 0; i < merged.size(); ++i) {
    if (i == 0 || merged[i].text != merged[i - 1].text) names.emplace_back(merged[i].text);
  }
}

void MorixRegistryImpl::GetSubkeyNamesFromSyntaxFiles(std::vector<std::string>& names,
                                                      std::string_view section) {
  MergeNamesFromSyntaxFiles(names, section, true);
}

void MorixRegistryImpl::GetValueNamesFromSyntaxFiles(std::vector<std::string>& names,
                                                     std::string_view section) {
  MergeNamesFromSyntaxFiles(names, section, false);
}
