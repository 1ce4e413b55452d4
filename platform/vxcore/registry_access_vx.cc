#include "vxcore/registry_access_vx.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "CoreInterfaces/talven_application.h"
#include "fsio/atomic_replace.h"
#include "fsio/file_ops.h"
#include "vxcore/core_process.h"
#include "vxcore/file_utilities.h"
#include "vxcore/personal_folder.h"
#include "vxcore/registry_file_format.h"
#include "vxcore/tal_debug.h"
#include "vxcore/vxcore_init.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Reads and parses one provider's file; a missing file is an empty registry.
bool LoadRegistryFile(const AString& path, core::RegistryContents& contents) {
  std::string text;
  const fsio::Status read = fsio::PosixFileOps().ReadFile(path.ASCII(), &text, nullptr);
  if (read.IsNotFound()) {
    contents.clear();
    return true;
  }
  if (!read.ok()) {
    TalDebug(1, L"Error: vxcore registry cannot read: %s\n",
             AString(read.message().c_str()).c_str());
    return false;
  }
  if (!core::ParseRegistryText(text, contents)) {
    TalDebug(1, L"Error: vxcore registry file '%s' is damaged\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool RegistryAccessVx::GetPersonalDirPath(AString& folder) {
  std::string bytes;
  const bool found = core::FindPersonalFolder(bytes);
  folder = AString::FromBytes(bytes);
  return found;
}

bool RegistryAccessVx::CreateDirRecursive(const AString& folder) {
  std::string path = folder.ASCII();
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    // Failures along the way show up in the final test; an existing parent is the common case.
    fsio::PosixFileOps().MakeDir(path.substr(0, slash), 0777).IgnoreError();
  }
  fsio::PosixFileOps().MakeDir(path, 0777).IgnoreError();
  return IsFolder(path);
}

AString RegistryAccessVx::GetRegistryFilePath(int provider) {
  const ITalvenApplication* application = core::GetTalvenApplication();
  if (application == nullptr || provider < kInstall || provider > kUserMachine) return AString();
  const AString regfile = application->GetRegistryFileName();
  if (regfile.empty() || regfile.find_first_of(L"/\\") != AString::npos) return AString();

  AString folder;
  if (provider == kInstall || provider == kInstallMachine) {
    folder = application->GetInstallDirectory();
    if (folder.empty()) return AString();
    folder += L"/config/vxcore/";
  } else {
    if (!GetPersonalDirPath(folder)) return AString();
    folder += L"/Talven/vxcore/";
  }
  CFileUtilities::SetProperDirectoryName(folder);
  const bool machine = provider == kInstallMachine || provider == kUserMachine;
  return folder + regfile + (machine ? L"_" + core::GetHostName() : AString()) + L".reg";
}

AString RegistryAccessVx::GetRegistryString(bool& found, int provider, const AString& section,
                                            const AString& entry, const AString& defaultValue) {
  found = false;
  const AString path = GetRegistryFilePath(provider);
  core::RegistryContents contents;
  // A damaged file still serves the entries that could be read.
  if (path.empty() || (!LoadRegistryFile(path, contents) && contents.empty())) {
    return defaultValue;
  }
  const auto sectionIt = contents.find(section.ASCII());
  if (sectionIt == contents.end()) return defaultValue;
  const auto entryIt = sectionIt->second.find(entry.ASCII());
  if (entryIt == sectionIt->second.end()) return defaultValue;
  found = true;
  return AString::FromBytes(entryIt->second);
}

AString RegistryAccessVx::GetRegistryStringUsePrecedence(int& provider, const AString& section,
                                                         const AString& entry,
                                                         const AString& defaultValue,
                                                         bool emptyMeansAbsent) {
  for (const int candidate : {kUserMachine, kUser, kInstallMachine, kInstall}) {
    bool found = false;
    AString value = GetRegistryString(found, candidate, section, entry, defaultValue);
    if (found && !(emptyMeansAbsent && value.empty())) {
      provider = candidate;
      return value;
    }
  }
  provider = kNoProvider;
  return defaultValue;
}

bool RegistryAccessVx::WriteRegistryString(int provider, const AString& section,
                                           const AString& entry, const AString& value) {
  return Write(provider, section, entry, value, false);
}

bool RegistryAccessVx::ForeseeWriteRegistryString(int provider, const AString& section,
                                                  const AString& entry, const AString& value) {
  return Write(provider, section, entry, value, true);
}

bool RegistryAccessVx::Write(int provider, const AString& section, const AString& entry,
                             const AString& value, bool dryRun) {
  const AString path = GetRegistryFilePath(provider);
  if (path.empty()) {
    TalDebug(1, L"Error: vxcore registry has no file for provider %d\n", provider);
    return false;
  }
  core::RegistryContents contents;
  if (!LoadRegistryFile(path, contents)) return false;
  contents[section.ASCII()][entry.ASCII()] = value.ASCII();

  if (dryRun) {
    const fsio::Status foreseen = fsio::ForeseeReplace(fsio::PosixFileOps(), path.ASCII());
    if (!foreseen.ok()) {
      TalDebug(1, L"Error: vxcore registry could not write: %s\n",
               AString(foreseen.message().c_str()).c_str());
    }
    return foreseen.ok();
  }
  const AString folder = path.Left(path.rfind(L'/'));
  if (!CreateDirRecursive(folder)) {
    TalDebug(1, L"Error: vxcore registry cannot create '%s': %s\n", folder.c_str(),
             core::GetSystemErrorString().c_str());
    return false;
  }
  const fsio::Status written =
      fsio::ReplaceFile(fsio::PosixFileOps(), path.ASCII(), core::FormatRegistryText(contents),
                        fsio::Permissions::kKeepExisting);
  if (!written.ok()) {
    TalDebug(1, L"Error: vxcore registry cannot write: %s\n",
             AString(written.message().c_str()).c_str());
    return false;
  }
  return true;
}
