// Where the store files live: the admin folder beside the installation and
// the user folder under the personal documents folder.
#include "registry/function_trace.h"
#include "registry/morix_registry_impl.h"
#include "registry/registry_names.h"
#include "vxcore/assert_failure.h"
#include "vxcore/core_process.h"
#include "vxcore/file_utilities.h"
#include "vxcore/long_file_name.h"
#include "vxcore/registry_access_vx.h"

AString MorixRegistryImpl::GetAdminDir() {
  AString installDir = client->GetInstallDirOverride();
  if (installDir.empty()) {
    installDir = core::GetExeDirPath();
    CFileUtilities::SetProperDirectoryName(installDir);
    VX_ASSERT(!installDir.empty());
  }
  AString adminDir = installDir + L"/config/";
  CFileUtilities::SetProperDirectoryName(adminDir);
  return adminDir;
}

AString MorixRegistryImpl::GetUserConfigDir() {
  FunctionTrace trace(1, L"MorixRegistryImpl::GetUserConfigDir()");
  AString productName = client->GetVersionedProductName();
  trace.Message(L"Versioned product name is: %s", productName.c_str());
  AString userDir;
  RegistryAccessVx::GetPersonalDirPath(userDir);
  if (productName.empty()) {
    trace.Message(L"ERROR: No versioned product name, using generic directory for user.XML");
    userDir += L"/Talven/config";
  } else {
    userDir += L"/Talven/" + productName + L"/config";
  }
  CFileUtilities::SetProperDirectoryName(userDir);
  return userDir;
}

bool MorixRegistryImpl::GetRegistryFiles(std::vector<AString>& files) {
  AString adminDir = GetAdminDir();
  AString userDir = GetUserConfigDir();
  const std::pair<AString, const AString*> names[] = {
      {kAdminKeyName, &adminDir},
      {kDefaultKeyName, &adminDir},
      {GetHostName(), &adminDir},
      {kUserKeyName, &userDir},
      {GetHostName() + kUserKeySuffix, &userDir},
  };
  for (const auto& [keyName, folder] : names) {
    LongFileName file(*folder, keyName);
    file.ChangeExt(L"XML");
    files.push_back(file.FilePath());
  }
  return true;
}

void MorixRegistryImpl::PrepareUserFolder(AString& userDir, FunctionTrace& trace) {
  LongFileName lfnUserDir(userDir);
  lfnUserDir.MakeItDirectory();
  VX_ASSERT(lfnUserDir.IsDirectory());
  if (!LFN_Exists(lfnUserDir)) {
    trace.Message(L"User folder doesn't exist, creating...");
    if (!RegistryAccessVx::CreateDirRecursive(userDir)) {
      trace.Message(L"ERROR: unable to create user directory");
    }
  }
}
