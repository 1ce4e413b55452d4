// The registry syntax: which keys and entries the product defines, their
// types, and the spelling they are defined with.
#include "registry/morix_registry_impl.h"
#include "vxcore/assert_failure.h"

namespace {

constexpr int32_t kSyntaxNameBuffer = 1000;
constexpr int32_t kCollectBuffer = 260;

// The name at `index` of `key`'s values (or subkeys); false when it cannot be read.
bool ReadName(TalRegKey key, int32_t index, bool subkey, std::string& buffer) {
  int32_t size = static_cast<int32_t>(buffer.size());
  int status = subkey ? TalRegGetSubKeyNameA(key, index, buffer.data(), &size)
                      : TalRegGetValueNameA(key, index, buffer.data(), &size);
  return status == kTalRegOk;
}

int32_t CountOf(TalRegKey key, bool subkeys) {
  int32_t count = 0;
  int status = subkeys ? TalRegGetNumKeys(key, &count) : TalRegGetNumValues(key, &count);
  return status == kTalRegOk ? count : 0;
}

}  // namespace

int MorixRegistryImpl::GetNumSyntaxFiles() { return 3; }

AString MorixRegistryImpl::GetSyntaxRootKeyName(int index) {
  switch (index) {
    case 0:
      return syntaxKey;
    case 1:
      return L"CoreRegistrySyntax";
    case 2:
      return L"EMCoreRegistrySyntax";
    default:
      return AString();
  }
}

int32_t MorixRegistryImpl::FindSyntaxEntry(StoreKey key,
                                           std::vector<AString>::iterator firstComponent,
                                           std::vector<AString>::iterator endComponent,
                                           AString& entryName) {
  std::string buffer(kSyntaxNameBuffer, '\0');
  if (firstComponent == endComponent) {
    if (entryName.empty()) return -1;
    int32_t type = 0;
    if (TalRegGetValueTypeA(key.get(), entryName.ASCII().c_str(), &type) == kTalRegOk) {
      return type;
    }
    int32_t count = CountOf(key.get(), false);
    for (int32_t i = 0; i < count; ++i) {
      if (!ReadName(key.get(), i, false, buffer)) continue;
      AString candidate(buffer.c_str());
      if (candidate.CompareNoCase(entryName) != 0) continue;
      type = 0;
      if (TalRegGetValueTypeA(key.get(), buffer.c_str(), &type) != kTalRegOk) type = 0;
      entryName = candidate;
      return type;
    }
    return 0;
  }

  AString& component = *firstComponent;
  int32_t result = 0;
  StoreKey exact;
  if (exact.Open(component.ASCII().c_str(), key.get())) {
    result = FindSyntaxEntry(std::move(exact), firstComponent + 1, endComponent, entryName);
  }
  if (result != 0) return result;
  int32_t count = CountOf(key.get(), true);
  for (int32_t i = 0; i < count && result == 0; ++i) {
    if (!ReadName(key.get(), i, true, buffer)) continue;
    AString candidate(buffer.c_str());
    if (candidate.CompareNoCase(component) != 0 || candidate.Compare(component) == 0) continue;
    StoreKey other;
    if (!other.Open(buffer.c_str(), key.get())) continue;
    result = FindSyntaxEntry(std::move(other), firstComponent + 1, endComponent, entryName);
    if (result != 0) component = candidate;
  }
  return result;
}

int32_t MorixRegistryImpl::LookupSingleSyntaxFile(bool& syntaxFound, AString& section,
                                                  AString& entryName,
                                                  const AString& rootKeyName) {
  StoreKey root;
  if (!root.Open(rootKeyName.ASCII().c_str())) return 0;
  syntaxFound = true;
  std::vector<AString> components;
  if (!section.empty()) section.TokenizeString(L"\\/", components, false);
  int32_t result = FindSyntaxEntry(std::move(root), components.begin(), components.end(),
                                   entryName);
  if (result != 0 && !components.empty()) {
    section = components.front();
    for (size_t i = 1; i < components.size(); ++i) section += L"/" + components[i];
  }
  return result;
}

int32_t MorixRegistryImpl::LookupRegistrySyntax(AString& section, AString& entryName,
                                                bool* syntaxFound) {
  EnsureMorixRegistryIsLoaded();
  bool found = false;
  int32_t result = 0;
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    AString sectionCopy = section;
    AString entryCopy = entryName;
    result = LookupSingleSyntaxFile(found, sectionCopy, entryCopy, GetSyntaxRootKeyName(i));
    if (result != 0) {
      section = sectionCopy;
      entryName = entryCopy;
      break;
    }
  }
  if (syntaxFound != nullptr) *syntaxFound = found;
  return result;
}

bool MorixRegistryImpl::IsRegistryEntryDefined(const AString& path) {
  size_t separator = path.find_last_of(L"\\/");
  AString section;
  AString entryName = path;
  if (separator != AString::npos) {
    section = path.Left(separator);
    entryName = path.Mid(separator + 1);
  }
  bool syntaxFound = false;
  int32_t result = LookupRegistrySyntax(section, entryName, &syntaxFound);
  return !(result == 0 && syntaxFound);
}

void MorixRegistryImpl::GetRegistrySyntaxEntries(std::vector<RegistrySyntaxEntry>& entries) {
  for (int i = 0; i < GetNumSyntaxFiles(); ++i) {
    CollectSyntaxEntries(GetSyntaxRootKeyName(i), AString(), entries);
  }
}

void MorixRegistryImpl::CollectSyntaxEntries(const AString& keyName, const AString& prefix,
                                             std::vector<RegistrySyntaxEntry>& entries) {
  StoreKey key;
  if (!key.Open(keyName.ASCII().c_str())) return;
  std::string name(kCollectBuffer, '\0');
  int32_t valueCount = CountOf(key.get(), false);
  for (int32_t i = 0; i < valueCount; ++i) {
    int32_t type = 0;
    if (!ReadName(key.get(), i, false, name)) continue;
    if (TalRegGetValueTypeA(key.get(), name.c_str(), &type) != kTalRegOk) continue;
    RegistrySyntaxEntry record;
    record.path = prefix + L"/" + AString(name.c_str());
    if (type == kTalRegTypeInt32) {
      if (TalRegGetInt32ValueA(key.get(), name.c_str(), &record.intValue) != kTalRegOk) {
        record.intValue = 0;
      }
    } else if (type == kTalRegTypeString) {
      // A text longer than the buffer is recorded as empty.
      char text[kCollectBuffer];
      int32_t size = kCollectBuffer;
      record.valueType = SyntaxEntryString;
      if (TalRegGetStringValueA(key.get(), name.c_str(), text, &size) == kTalRegOk) {
        record.stringValue = text;
      }
    } else {
      VX_ASSERT(!"Unexpected value type in the registry syntax");
      continue;
    }
    entries.push_back(std::move(record));
  }

  std::vector<AString> subkeys;
  int32_t subkeyCount = 0;
  if (TalRegGetNumKeys(key.get(), &subkeyCount) != kTalRegOk) {
    VX_ASSERT(!"Unable to count the subkeys of a registry syntax key");
  } else {
    std::string buffer(kSyntaxNameBuffer, '\0');
    for (int32_t i = 0; i < subkeyCount; ++i) {
      if (ReadName(key.get(), i, true, buffer)) subkeys.emplace_back(buffer.c_str());
    }
  }
  key.Close();
  for (const AString& subkey : subkeys) {
    CollectSyntaxEntries(keyName + L"/" + subkey, prefix.empty() ? subkey : prefix + L"/" + subkey,
                         entries);
  }
}
