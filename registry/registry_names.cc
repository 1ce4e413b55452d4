// Construction, the names of tops and providers, and the host name.
#include <unistd.h>

#include "registry/morix_registry_impl.h"
#include "vxcore/assert_failure.h"
#include "vxcore/core_process.h"
#include "vxcore/tal_debug.h"

MorixRegistryImpl::MorixRegistryImpl(IMorixRegistryClient* client)
    : client(client), userDirIsAdminDir(false) {}

MorixRegistryImpl::~MorixRegistryImpl() = default;

AString MorixRegistryImpl::GetHostName() {
  static const AString hostName = [] {
    char buffer[2048];
    if (gethostname(buffer, sizeof buffer) != 0) {
      TalDebug(1, L"Error getting hostname: %s\n", core::GetSystemErrorString().c_str());
      return AString(L"unknown");
    }
    buffer[sizeof buffer - 1] = '\0';
    return AString(buffer);
  }();
  return hostName;
}

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
      return L"user_machine";
    case ProviderUser:
      return L"user";
    case ProviderInstallMachine:
      return L"install_machine";
    case ProviderInstall:
      return L"install";
    case ProviderAdmin:
      return L"admin";
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
