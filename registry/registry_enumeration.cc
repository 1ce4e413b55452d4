// Listing subkey and entry names per provider, merged over providers, and
// merged over the syntax files.
#include <set>

#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_names.h"
#include "vxcore/tal_debug.h"

namespace {

// Each name followed by "\n"; built only for the level-5 lines.
AString JoinNames(const std::vector<AString>& names) {
  AString joined;
  for (const AString& name : names) joined += name + L"\n";
  return joined;
}

// Appends the names of `key`'s subkeys (or values) in store order.
void AppendNames(TalRegKey key, bool subkeys, std::vector<AString>& names) {
  ForEachStoreName(key, subkeys, [&names](const char* name) { names.emplace_back(name); });
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

void MorixRegistryImpl::GetNamesFromSingleSyntaxFile(std::vector<AString>& names,
                                                     const AString& section,
                                                     const AString& rootKeyName, bool subkeys) {
  EnsureMorixRegistryIsLoaded();
  names.clear();
  AString path = rootKeyName;
  if (!section.empty()) path += L"/" + section;
  StoreKey key;
  if (GetMorixRegistryKey(key.Out(), path, false)) {
    AppendNames(key.get(), subkeys, names);
    key.Close();
  }
  const wchar_t* operation =
      subkeys ? L"GetSubkeyNamesFromSingleSyntaxFile" : L"GetValueNamesFromSingleSyntaxFile";
  if (names.empty()) {
    TalDebug(5, L"Info: MorixRegistry %s(): Key not found; Root Key Name=%s, section='%s'.\n",
             operation, rootKeyName.c_str(), section.c_str());
  } else if (my_tal_debug_data.Level() >= 5) {
    TalDebug(5, L"Info: MorixRegistry %s(): Root Key Name=%s, section='%s';\nNames:\n%s\n",
             operation, rootKeyName.c_str(), section.c_str(), JoinNames(names).c_str());
  }
}

void MorixRegistryImpl::GetSubkeyNamesFromSingleSyntaxFile(std::vector<AString>& names,
                                                           const AString& section,
                                                           const AString& rootKeyName) {
  GetNamesFromSingleSyntaxFile(names, section, rootKeyName, true);
}

void MorixRegistryImpl::GetValueNamesFromSingleSyntaxFile(std::vector<AString>& names,
                                                          const AString& section,
                                                          const AString& rootKeyName) {
  GetNamesFromSingleSyntaxFile(names, section, rootKeyName, false);
}

void MorixRegistryImpl::MergeNamesFromSyntaxFiles(std::vector<AString>& names,
                                                  const AString& section, bool subkeys) {
  EnsureMorixRegistryIsLoaded();
  std::set<AString> merged;
  std::vector<AString> fileNames;
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    GetNamesFromSingleSyntaxFile(fileNames, section, GetSyntaxRootKeyName(i), subkeys);
    merged.insert(fileNames.begin(), fileNames.end());
  }
  names.insert(names.end(), merged.begin(), merged.end());
}

void MorixRegistryImpl::GetSubkeyNamesFromSyntaxFiles(std::vector<AString>& names,
                                                      const AString& section) {
  MergeNamesFromSyntaxFiles(names, section, true);
}

void MorixRegistryImpl::GetValueNamesFromSyntaxFiles(std::vector<AString>& names,
                                                     const AString& section) {
  MergeNamesFromSyntaxFiles(names, section, false);
}
