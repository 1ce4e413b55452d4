// Replacing store files so that a reader or a crash sees each file old or
// new, never a mix, and a failed save leaves every old file as it was.
//
// What we assume of the operating system:
//  - written data may sit in the page cache, reordered, until fsync returns;
//  - a new or renamed directory entry is durable only once its folder is synced;
//  - rename() over an existing file is atomic: the name points to one of the two.
// Hence: write a temporary file in the target's folder, fsync and close it,
// rename it over the target, fsync the folder. Before the rename the old file
// gets a second name, so that a later failure can put it back. Temporary and
// backup files begin with '.', so a crash leaves at worst files that loading
// ignores.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/file_ops.h"
#include "cfgkit/status.h"

namespace cfgkit {

// A temporary file, fully written and flushed, waiting to replace its target.
class StagedFile {
 public:
  explicit StagedFile(FileOps& ops) : ops_(ops) {}
  StagedFile(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  StagedFile& operator=(StagedFile&&) = delete;

  // Removes the temporary file unless it was renamed over its target.
  ~StagedFile();

  // Writes `bytes` to a new temporary file in `dir`, flushes and closes it.
  // On failure nothing is left on disk.
  Status Stage(const std::string& dir, const std::string& fileName, std::string_view bytes);

  const std::string& dir() const { return dir_; }
  const std::string& tempPath() const { return tempPath_; }
  const std::string& targetPath() const { return targetPath_; }

  // The temporary file now bears the target's name.
  void MarkRenamed() { pending_ = false; }

 private:
  FileOps& ops_;
  std::string dir_;
  std::string tempPath_;
  std::string targetPath_;
  bool pending_ = false;
};

// Renames every staged file over its target and flushes their folders. When
// any step fails, the targets already replaced get their old content back
// (targets that did not exist are removed) and the failure is returned.
Status ReplaceAll(FileOps& ops, std::vector<StagedFile>& files);

// Whether `fileName` is a temporary or backup file that a save left behind
// when its process died. Only meaningful while holding the folder's lock.
bool IsLeftoverOfSave(std::string_view fileName);

// The folder and file name joined with exactly one '/'.
std::string JoinPath(const std::string& dir, const std::string& fileName);

}  // namespace cfgkit
