#pragma once

// Folder-name helpers.

#include "vxcore/astring.h"

class CFileUtilities {
 public:
  // Brings a folder name to canonical form in place: '/' separators (backslashes converted),
  // no doubled separators, exactly one trailing '/'. The empty name stays empty.
  static void SetProperDirectoryName(AString& folder);

  // Turns every '/' into '\' in place.
  static void SetToBackSlashes(AString& path);
};
