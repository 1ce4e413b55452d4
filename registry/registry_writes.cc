// Writing values into one provider, and through the interface with the
// change check, the admin refusal and forced writes.
#include <cstdlib>

#include "registry/morix_registry_impl.h"
#include "registry/store_value.h"
#include "vxcore/tal_debug.h"

template <class T>
bool MorixRegistryImpl::WriteToProvider(uint32_t top, const AString& section,
                                        const AString& entry, const T& value,
                                        uint32_t provider) {
  EnsureMorixRegistryIsLoaded();
  StoreKey key;
  if (!GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), true)) {
    return false;
  }
  int status = WriteStoreValue(key.get(), entry.ASCII(), value);
  key.Close();
  if (status == kTalRegOk) return true;
  TalDebug(1, RegistryValueTraits<T>::kProviderWriteError, status, GetTopName(top).c_str(),
           section.c_str(), entry.c_str(), RegistryValueTraits<T>::Arg(value),
           GetProviderName(provider).c_str());
  return false;
}

bool MorixRegistryImpl::WriteRegistryStringToProvider(uint32_t top, const AString& section,
                                                      const AString& entry, const AString& value,
                                                      uint32_t provider) {
  return WriteToProvider(top, section, entry, value, provider);
}

bool MorixRegistryImpl::WriteRegistryIntToProvider(uint32_t top, const AString& section,
                                                   const AString& entry, int32_t value,
                                                   uint32_t provider) {
  return WriteToProvider(top, section, entry, value, provider);
}

template <class T>
bool MorixRegistryImpl::WriteWithChangeCheck(uint32_t top, const AString& section,
                                             const AString& entry, const T& value) {
  using Traits = RegistryValueTraits<T>;
  using Stored = typename Traits::Stored;
  ConfigurationProvider previousProvider;
  Stored previous = GetByPrecedence(previousProvider, top, section, entry, Stored{});
  // Integers are logged signed, like the value written.
  const T& previousValue = previous;
  const AString topName = GetTopName(top);

  if (!IsForceRegistryWritesSet() && previousProvider != ProviderNone &&
      Traits::Equal(value, previous)) {
    TalDebug(5, Traits::kUnchanged, topName.c_str(), section.c_str(), entry.c_str(),
             Traits::Arg(value), GetProviderName(previousProvider).c_str());
    return true;
  }
  if (top == HKLM) {
    TalDebug(1, Traits::kAdminRefused, topName.c_str(), section.c_str(), entry.c_str(),
             Traits::Arg(value));
    return false;
  }
  uint32_t target = IsForceRegistryWritesSet() ? ProviderRegistrySyntax : ProviderUserMachine;
  if (WriteToProvider(top, section, entry, value, target)) {
    TalDebug(5, Traits::kWritten, GetProviderName(target).c_str(), topName.c_str(),
             section.c_str(), entry.c_str(), Traits::Arg(value), Traits::Arg(previousValue),
             GetProviderName(previousProvider).c_str());
    return true;
  }
  TalDebug(1, Traits::kWriteError, topName.c_str(), section.c_str(), entry.c_str(),
           Traits::Arg(value), Traits::Arg(previousValue), GetProviderName(previousProvider).c_str());
  return false;
}

bool MorixRegistryImpl::WriteRegistryString(uint32_t top, const AString& section,
                                            const AString& entry, const AString& value) {
  return WriteWithChangeCheck(top, section, entry, value);
}

bool MorixRegistryImpl::WriteRegistryInt(uint32_t top, const AString& section,
                                         const AString& entry, int32_t value) {
  return WriteWithChangeCheck(top, section, entry, value);
}

bool MorixRegistryImpl::IsForceRegistryWritesSet() {
  static bool queried = false;
  static bool forced = false;
  if (!queried) {
    const char* setting = std::getenv("TALVEN_FORCE_REGISTRY_WRITES");
    forced = setting != nullptr && setting[0] != '\0';
    queried = true;
  }
  return forced;
}
