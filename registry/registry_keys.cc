// Creating and deleting keys and entries; none of them on the admin side.
#include "cfgkit/key_path.h"
#include "registry/function_trace.h"
#include "registry/morix_registry_impl.h"
#include "vxcore/tal_debug.h"

namespace {

// Keys and entries change only on the HKCU side; anything else is refused
// with `refusal` (top name first, then `args`) and never touches the store.
template <class... Args>
bool RefusedOutsideHkcu(uint32_t top, const wchar_t* refusal, Args... args) {
  if (top == HKCU) return false;
  TalDebug(1, refusal, MorixRegistryImpl::GetTopName(top).c_str(), args...);
  return true;
}

}  // namespace

bool MorixRegistryImpl::CreateRegistryKey(uint32_t top, const AString& section) {
  if (RefusedOutsideHkcu(top,
                         L"Error: MorixRegistry CreateRegistryKey: Cannot create key in admin "
                         L"file; top=%s, section='%s'.\n",
                         section.c_str())) {
    return false;
  }
  const AString topName = GetTopName(top);
  EnsureMorixRegistryIsLoaded();
  const AString providerName = GetProviderName(ProviderUserMachine);
  StoreKey key;
  if (GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, ProviderUserMachine),
                          true)) {
    key.Close();
    TalDebug(5,
             L"Info: MorixRegistry CreateRegistryKey: Key created in %s; top=%s, section='%s'.\n",
             providerName.c_str(), topName.c_str(), section.c_str());
    return true;
  }
  TalDebug(1,
           L"Error: MorixRegistry CreateRegistryKey: Error creating key in %s; top=%s, "
           L"section='%s'.\n",
           providerName.c_str(), topName.c_str(), section.c_str());
  return false;
}

bool MorixRegistryImpl::DeleteRegistryKey(uint32_t top, const AString& section,
                                          uint32_t provider) {
  if (RefusedOutsideHkcu(top,
                         L"Error: MorixRegistry DeleteRegistryKey: Key not deleted from admin "
                         L"file; top=%s, section='%s'.\n",
                         section.c_str())) {
    return false;
  }
  const AString topName = GetTopName(top);
  const AString providerName = GetProviderName(provider);
  // A section that names no key is the level's own key: deleting it would take
  // every setting of the level (an empty argument is a script's unset variable).
  if (cfgkit::KeyPathComponents(section.ASCII()).empty()) {
    TalDebug(1,
             L"Error: MorixRegistry DeleteRegistryKey: Key not deleted: it is the whole of %s; "
             L"top=%s, section='%s'.\n",
             providerName.c_str(), topName.c_str(), section.c_str());
    return false;
  }
  EnsureMorixRegistryIsLoaded();
  AString path = GetProviderKeyPath(top, section, provider);
  StoreKey key;
  if (!GetMorixRegistryKey(key.Out(), path, false)) {
    TalDebug(5,
             L"Info: MorixRegistry DeleteRegistryKey: Key not found in %s; top=%s, "
             L"section='%s'.\n",
             providerName.c_str(), topName.c_str(), section.c_str());
    return false;
  }
  key.Close();
  if (TalRegDeleteKeyRecursiveA(nullptr, path.ASCII().c_str()) == kTalRegOk) {
    TalDebug(5,
             L"Info: MorixRegistry DeleteRegistryKey: Key deleted from %s; top=%s, "
             L"section='%s'.\n",
             providerName.c_str(), topName.c_str(), section.c_str());
    return true;
  }
  TalDebug(1,
           L"Error: MorixRegistry DeleteRegistryKey: Error deleting key from %s; top=%s, "
           L"section='%s'.\n",
           providerName.c_str(), topName.c_str(), section.c_str());
  return false;
}

bool MorixRegistryImpl::DeleteRegistryKey(uint32_t top, const AString& section) {
  return DeleteRegistryKey(top, section, ProviderUserMachine);
}

bool MorixRegistryImpl::DeleteRegistryEntry(uint32_t top, const AString& section,
                                            const AString& entry, uint32_t provider) {
  if (RefusedOutsideHkcu(top,
                         L"Error: MorixRegistry DeleteRegistryEntry: Entry not deleted from admin "
                         L"file;\ntop=%s, section='%s', entry='%s'.\n",
                         section.c_str(), entry.c_str())) {
    return false;
  }
  const AString topName = GetTopName(top);
  EnsureMorixRegistryIsLoaded();
  StoreKey key;
  if (!GetMorixRegistryKey(key.Out(), GetProviderKeyPath(top, section, provider), true)) {
    return false;
  }
  int status = TalRegDeleteValueA(key.get(), entry.ASCII().c_str());
  key.Close();
  const AString providerName = GetProviderName(provider);
  if (status == kTalRegOk) {
    TalDebug(5,
             L"Info: MorixRegistry DeleteRegistryEntry: Entry deleted from %s;\ntop=%s, "
             L"section='%s', entry='%s'.\n",
             providerName.c_str(), topName.c_str(), section.c_str(), entry.c_str());
    return true;
  }
  TalDebug(1,
           L"Error: MorixRegistry DeleteRegistryKey: Error deleting key from %s;\ntop=%s, "
           L"section='%s', entry='%s'.\n",
           providerName.c_str(), topName.c_str(), section.c_str(), entry.c_str());
  return false;
}

bool MorixRegistryImpl::DeleteRegistryEntry(uint32_t top, const AString& section,
                                            const AString& entry) {
  return DeleteRegistryEntry(top, section, entry, ProviderUserMachine);
}

bool MorixRegistryImpl::ClearRegistryEntry(uint32_t top, const AString& section,
                                           const AString& entry) {
  FunctionTrace trace(1, L"MorixRegistryImpl::ClearRegistryEntry()");
  EnsureMorixRegistryIsLoaded();
  IRegistryImpl& registry = *this;
  return registry.WriteRegistryString(top, section, entry, AString());
}
