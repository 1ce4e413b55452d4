#include <new>

#include "tool/commands/commands.h"
#include "tool/messages.h"
#include "tool/tool_registry_access.h"
#include "vxcore/console_output.h"
#include "vxcore/registry_access_vx.h"
#include "vxcore/vxcore_init.h"

namespace {

const AString kTempDirectoryEntry = L"TempDirectory";

int ToVxProvider(int level) {
  switch (level) {
    case LevelInstall:
      return RegistryAccessVx::kInstall;
    case LevelInstallMachine:
      return RegistryAccessVx::kInstallMachine;
    case LevelUser:
      return RegistryAccessVx::kUser;
    case LevelUserMachine:
      return RegistryAccessVx::kUserMachine;
    default:
      return RegistryAccessVx::kNoProvider;
  }
}

const wchar_t* VxProviderName(int provider) {
  switch (provider) {
    case RegistryAccessVx::kInstall:
      return L"install";
    case RegistryAccessVx::kInstallMachine:
      return L"install_machine";
    case RegistryAccessVx::kUser:
      return L"user";
    case RegistryAccessVx::kUserMachine:
      return L"user_machine";
    case RegistryAccessVx::kNoProvider:
      return L"not found";
    default:
      return L"other/unknown";
  }
}

void GetTempDirectory(int provider) {
  const wchar_t* entry = kTempDirectoryEntry.c_str();
  AString value;
  bool found = false;
  if (provider == RegistryAccessVx::kNoProvider) {
    value = RegistryAccessVx::GetRegistryStringUsePrecedence(provider, AString(),
                                                            kTempDirectoryEntry, AString(), true);
    found = !value.empty();
  } else {
    value = RegistryAccessVx::GetRegistryString(found, provider, AString(), kTempDirectoryEntry,
                                                AString());
    found = found && !value.empty();
  }
  if (found) {
    core::PrintWide(msg::kTempFound, entry, value.c_str(), VxProviderName(provider));
  } else if (provider == RegistryAccessVx::kNoProvider) {
    core::PrintWide(msg::kNotFound, entry);
  } else {
    core::PrintWide(msg::kNotFoundAtLevel, entry, VxProviderName(provider));
  }
}

}  // namespace

int RunTempDirectory(int32_t command, ToolOptions& options, int level) {
  const wchar_t* entry = kTempDirectoryEntry.c_str();
  if (level == LevelAdmin) {
    core::PrintWide(msg::kLevelNotValidFor, LevelName(level).c_str(), entry);
    return -1;
  }
  // Lives until the process ends, as the library expects of its host.
  static ITalvenApplication* application =
      new (std::nothrow) SetwiseTalvenApplication(options.values[SlotProductName]);
  InitVxcoreDLL(application);

  int provider = ToVxProvider(level);
  if (command == CommandGet) {
    GetTempDirectory(provider);
  } else if (command == CommandSet) {
    const wchar_t* value = options.values[SlotRegistryValue];
    bool written = RegistryAccessVx::WriteRegistryString(provider, AString(), kTempDirectoryEntry,
                                                         value);
    core::PrintWide(written ? msg::kTempSet : msg::kTempSetFailed, entry, value,
                    VxProviderName(provider));
  } else {
    bool cleared =
        RegistryAccessVx::WriteRegistryString(provider, AString(), kTempDirectoryEntry, AString());
    core::PrintWide(cleared ? msg::kTempDeleted : msg::kTempDeleteFailed, entry,
                    VxProviderName(provider));
  }
  return -1;
}
