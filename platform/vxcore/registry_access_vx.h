#pragma once

// Folder services and the library's own small registry.
//
// The registry keeps text entries, addressed by section and entry name, in one file per
// provider. With <install> the application's GetInstallDirectory(), <personal> the personal
// documents folder (GetPersonalDirPath), <regfile> the application's GetRegistryFileName() and
// <host> the machine's host name (gethostname, "unknown" when it fails):
//   0 install          <install>/config/vxcore/<regfile>.reg
//   1 install_machine  <install>/config/vxcore/<regfile>_<host>.reg
//   2 user             <personal>/Talven/vxcore/<regfile>.reg
//   3 user_machine     <personal>/Talven/vxcore/<regfile>_<host>.reg
// A provider has no file, so reads find nothing and writes fail, when InitVxcoreDLL has not
// been given an application, when its folder is unknown (empty install folder, no HOME) or
// when <regfile> is empty or holds a '/' or '\'. File format: registry_file_format.h.
// Section and entry names are compared with ASCII case folded. Text is stored in its 8-bit
// form (AString::ASCII), so code points above 255 are stored as '?'.
// Writes replace the file atomically (the platform's one atomic replacement, which keeps the mode
// and owner) and create missing folders. Concurrent writers of one file are not serialised: the
// last rename wins.

#include "vxcore/astring.h"

class RegistryAccessVx {
 public:
  static constexpr int kInstall = 0;
  static constexpr int kInstallMachine = 1;
  static constexpr int kUser = 2;
  static constexpr int kUserMachine = 3;
  static constexpr int kNoProvider = 4;

  // The user's documents folder without a trailing '/': XDG_DOCUMENTS_DIR as defined in
  // $XDG_CONFIG_HOME/user-dirs.dirs (default $HOME/.config/user-dirs.dirs), else
  // $HOME/Documents. False, with `folder` cleared, when HOME is unset or empty.
  static bool GetPersonalDirPath(AString& folder);

  // Creates `folder` and every missing parent ('\' counts as '/'). True when it exists as a
  // folder afterwards.
  static bool CreateDirRecursive(const AString& folder);

  // The file that holds `provider`'s entries, or empty when the provider has none.
  static AString GetRegistryFilePath(int provider);

  // The value stored at `provider`, with `found` set; `defaultValue` with `found` false when
  // there is none. An empty stored value counts as found.
  static AString GetRegistryString(bool& found, int provider, const AString& section,
                                   const AString& entry, const AString& defaultValue);

  // Searches user_machine, user, install_machine, install and returns the first value found,
  // setting `provider` to its provider; the incoming `provider` is not read. With
  // `emptyMeansAbsent` an empty stored value does not count and the search goes on, so writing
  // the empty text at a level clears the entry there. Nothing found: `defaultValue`, with
  // `provider` set to kNoProvider.
  static AString GetRegistryStringUsePrecedence(int& provider, const AString& section,
                                                const AString& entry, const AString& defaultValue,
                                                bool emptyMeansAbsent);

  // Stores `value` (the empty text included) at `provider`. False when the provider has no
  // file, the file cannot be read or is damaged (it is then left as it is), or the write fails.
  static bool WriteRegistryString(int provider, const AString& section, const AString& entry,
                                  const AString& value);
  // Whether WriteRegistryString would get as far as replacing the file (fsio::ForeseeReplace);
  // writes and creates nothing.
  static bool ForeseeWriteRegistryString(int provider, const AString& section, const AString& entry,
                                         const AString& value);

 private:
  static bool Write(int provider, const AString& section, const AString& entry,
                    const AString& value, bool dryRun);
};
