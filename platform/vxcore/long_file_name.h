#pragma once

// A file or folder path. Separators are '/': backslashes given to the constructors are turned
// into '/', following the folder conventions the callers bring from Windows. A path that ends
// with '/' names a folder.

#include "vxcore/astring.h"

class LongFileName {
 public:
  LongFileName() = default;
  explicit LongFileName(const AString& path);
  // `name` inside `folder`, joined by exactly one '/'; an empty folder gives `name` alone.
  LongFileName(const AString& folder, const AString& name);

  // Replaces the extension of the last component with `extension` (given without the dot,
  // e.g. L"XML"), or adds it when there is none. A leading dot does not start an extension
  // (".profile" becomes ".profile.XML"). An empty `extension` removes the extension. A folder
  // path is left unchanged.
  void ChangeExt(const AString& extension);

  AString FilePath() const { return path_; }

  // Marks the path as a folder by ending it with '/'. The empty path becomes "./".
  void MakeItDirectory();
  bool IsDirectory() const { return !path_.empty() && path_.back() == L'/'; }

 private:
  AString path_;
};

// True when the path exists on disk; a folder path (trailing '/') must be a folder.
bool LFN_Exists(const LongFileName& name);
