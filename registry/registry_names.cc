// Construction, the names of tops and providers, and the host name.
#include "registry/morix_registry_impl.h"
#include "vxcore/assert_failure.h"
#include "vxcore/core_process.h"
#include "vxcore/tal_debug.h"

MorixRegistryImpl::MorixRegistryImpl(IMorixRegistryClient* client)
    : client(client), userDirIsAdminDir(false), readOnlyLoad(false) {}

MorixRegistryImpl::~MorixRegistryImpl() = default;

AString MorixRegistryImpl::GetHostName() { return core::GetHostName(); }

AString MorixRegistryImpl::GetTopName(uint32_t top) {
  switch (top) {
    case HKCU:
      return L"HKCU";
    case HKLM:
      return L"HKLM";
    default:
      return L"Unknown";
  }
}

AString MorixRegistryImpl::GetProviderName(uint32_t provider) {
  switch (provider) {
    case ProviderNone:
      return L"Not Found or Default";
    case ProviderUserMachine:
    case ProviderUser:
    case ProviderInstallMachine:
    case ProviderInstall:
    case ProviderAdmin:
      return kLevelNames[provider - 1];
    case ProviderRegistrySyntax:
      return L"RegistrySyntax";
    default:
      return L"Unknown";
  }
}

bool MorixRegistryImpl::SetRegistryFlag(bool) { return true; }

bool MorixRegistryImpl::OpenRegistryKey(uint32_t top, const AString& section, bool readOnly) {
  VX_ASSERT(readOnly == true);
  IRegistryImpl& registry = *this;
  return registry.DoesRegistryKeyExist(top, section);
}
