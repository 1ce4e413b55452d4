// Reading values from one provider or by precedence, and existence tests.
#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "registry/store_value.h"
#include "vxcore/tal_debug.h"

namespace {

const wchar_t* BoolWord(bool value) { return value ? L"true" : L"false"; }

}  // namespace

template <class T>
bool MorixRegistryImpl::ReadFromProvider(T& value, uint32_t top, const AString& section,
                                         const AString& entry, uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  StoreKey key;
  if (!GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), false)) {
    return false;
  }
  return ReadStoreValue(key.get(), entry.ASCII(), value);
}

bool MorixRegistryImpl::ReadRegistryStringFromProvider(AString& value, uint32_t top,
                                                       const AString& section,
                                                       const AString& entry, uint32_t provider) {
  return ReadFromProvider(value, top, section, entry, provider);
}

bool MorixRegistryImpl::ReadRegistryIntFromProvider(uint32_t& value, uint32_t top,
                                                    const AString& section, const AString& entry,
                                                    uint32_t provider) {
  return ReadFromProvider(value, top, section, entry, provider);
}

template <class T>
T MorixRegistryImpl::GetByPrecedence(ConfigurationProvider& provider, uint32_t top,
                                     const AString& section, const AString& entry,
                                     const T& defaultValue) {
  provider = ProviderNone;
  T result{};
  if (top == HKLM) {
    if (ReadFromProvider(result, top, section, entry, ProviderAdmin)) provider = ProviderAdmin;
  } else {
    for (ConfigurationProvider candidate : kProviderPrecedence) {
      if (ReadFromProvider(result, top, section, entry, candidate)) {
        provider = candidate;
        break;
      }
    }
  }
  if (provider == ProviderNone) result = defaultValue;
  TalDebug(5, RegistryValueTraits<T>::kReadLog, GetTopName(top).c_str(), section.c_str(),
           entry.c_str(), RegistryValueTraits<T>::Arg(result), GetProviderName(provider).c_str());
  return result;
}

AString MorixRegistryImpl::GetRegistryString(ConfigurationProvider& provider, uint32_t top,
                                             const AString& section, const AString& entry,
                                             const AString& defaultValue) {
  return GetByPrecedence(provider, top, section, entry, defaultValue);
}

AString MorixRegistryImpl::GetRegistryString(uint32_t top, const AString& section,
                                             const AString& entry, const AString& defaultValue) {
  ConfigurationProvider provider;
  return GetRegistryString(provider, top, section, entry, defaultValue);
}

uint32_t MorixRegistryImpl::GetRegistryInt(ConfigurationProvider& provider, uint32_t top,
                                           const AString& section, const AString& entry,
                                           uint32_t defaultValue) {
  return GetByPrecedence(provider, top, section, entry, defaultValue);
}

uint32_t MorixRegistryImpl::GetRegistryInt(uint32_t top, const AString& section,
                                           const AString& entry, uint32_t defaultValue) {
  ConfigurationProvider provider;
  return GetRegistryInt(provider, top, section, entry, defaultValue);
}

template <class Test>
bool MorixRegistryImpl::ExistsByPrecedence(uint32_t top, const Test& existsIn,
                                           ConfigurationProvider& found) {
  found = ProviderNone;
  if (top == HKLM) {
    if (existsIn(ProviderAdmin)) found = ProviderAdmin;
  } else {
    for (ConfigurationProvider candidate : kProviderPrecedence) {
      if (existsIn(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  return found != ProviderNone;
}

bool MorixRegistryImpl::DoesRegistryValueExistInProvider(uint32_t top, const AString& section,
                                                         const AString& entry,
                                                         uint32_t provider) {
  return GetRegistryValueType(top, section, entry, provider) != 0;
}

bool MorixRegistryImpl::DoesRegistryValueExist(uint32_t top, const AString& section,
                                               const AString& entry) {
  ConfigurationProvider found;
  bool exists = ExistsByPrecedence(
      top,
      [&](uint32_t provider) {
        return DoesRegistryValueExistInProvider(top, section, entry, provider);
      },
      found);
  TalDebug(5,
           L"Info: MorixRegistry DoesRegistryValueExist: result=%s, top=%s, section='%s', "
           L"entry='%s', provider=%s.\n",
           BoolWord(exists), GetTopName(top).c_str(), section.c_str(), entry.c_str(),
           GetProviderName(found).c_str());
  return exists;
}

uint32_t MorixRegistryImpl::GetRegistryValueType(uint32_t top, const AString& section,
                                                 const AString& entry, uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  StoreKey key;
  if (!GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), false)) {
    return 0;
  }
  int32_t type = 0;
  if (TalRegGetValueTypeA(key.get(), entry.ASCII().c_str(), &type) != kTalRegOk) type = 0;
  return static_cast<uint32_t>(type);
}

bool MorixRegistryImpl::DoesRegistryKeyExistInProvider(uint32_t top, const AString& section,
                                                       uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  StoreKey key;
  return GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), false);
}

bool MorixRegistryImpl::DoesRegistryKeyExist(uint32_t top, const AString& section) {
  ConfigurationProvider found;
  bool exists = ExistsByPrecedence(
      top,
      [&](uint32_t provider) { return DoesRegistryKeyExistInProvider(top, section, provider); },
      found);
  TalDebug(5,
           L"Info: MorixRegistry DoesRegistryKeyExist: result=%s, top=%s, section='%s', "
           L"provider=%s.\n",
           BoolWord(exists), GetTopName(top).c_str(), section.c_str(),
           GetProviderName(found).c_str());
  return exists;
}
