// Replacing files so that a reader or a crash sees each file old or new, never
// a mix, and a failed change leaves every old file as it was. The one way the
// platform writes a file.
//
// What we assume of the operating system:
//  - written data may sit in the page cache, reordered, until fsync returns;
//  - a new or renamed directory entry is durable only once its folder is synced
//    (where the file system can sync a folder at all);
//  - rename() over an existing file is atomic: the name points to one of the two.
// Hence: write a temporary file in the target's folder, fsync and close it,
// rename it over the target, fsync the folder. Before the rename (or removal)
// the old file is kept under a second name, a hard link where the file system
// has them and a flushed copy where it has not, so that a later failure can
// put it back. Temporary and backup files begin with '.', so a crash leaves at
// worst files that loading ignores.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fsio/file_ops.h"
#include "fsio/status.h"

namespace fsio {

// Who may read a file that a replacement writes.
enum class Permissions {
  kKeepExisting,  // the old file's mode, owner and group; a new file follows the umask
  kPrivate,       // the writing user alone (0600)
};

// Whether a replacement must survive a crash.
enum class Durability {
  kDurable,  // flushed, and a failure puts the old file back
  kCache,    // may be lost or cut short by a crash: for files whose readers check them
};

// A temporary file, fully written and flushed, waiting to replace its target.
//
// Its modification time is stamped just before the present: any later write
// to it stamps a later time, even within the same clock tick, so a file that
// still bears the stamp (see stampedNs()) provably holds the staged bytes.
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
  Status Stage(const std::string& dir, const std::string& fileName, std::string_view bytes,
               Permissions permissions);

  const std::string& dir() const { return dir_; }
  const std::string& tempPath() const { return tempPath_; }
  const std::string& targetPath() const { return targetPath_; }
  // The modification time the file was given; 0 when it could not be set.
  int64_t stampedNs() const { return stampedNs_; }

  // The temporary file now bears the target's name.
  void MarkRenamed() { pending_ = false; }

 private:
  FileOps& ops_;
  std::string dir_;
  std::string tempPath_;
  std::string targetPath_;
  bool pending_ = false;
  int64_t stampedNs_ = 0;
};

// Renames every staged file over its target, removes the files `removals`
// (a missing one is no failure) and flushes their folders, as one change:
// when any step fails, every target already replaced or removed gets its old
// content back (targets that did not exist are removed) and the failure is
// returned.
Status ReplaceAll(FileOps& ops, std::vector<StagedFile>& files,
                  const std::vector<std::string>& removals = {});

// Whether every symbolic link on the way to `path`'s folder belongs to this
// user or to root: a folder link of another user could send a save anywhere,
// root's with that user's HOME above all.
Status CheckLinksOnTheWay(FileOps& ops, const std::string& path);

// Whether replacing or removing `path` by ReplaceAll would be let through:
// the file a link there leads to, and the access to it and its folder
// (FileOps::MayReplace). Changes nothing.
Status ForeseeReplace(FileOps& ops, const std::string& path);

// Replaces the single file `path` by `bytes`.
Status ReplaceFile(FileOps& ops, const std::string& path, std::string_view bytes,
                   Permissions permissions, Durability durability = Durability::kDurable);

// Whether `fileName` is a temporary or backup file that a replacement left
// behind when its process died. Only meaningful to whoever holds the folder's
// lock, as it is also the name of a replacement in progress.
bool IsLeftoverOfReplace(std::string_view fileName);

// The folder and file name joined with exactly one '/'.
std::string JoinPath(const std::string& dir, const std::string& fileName);

}  // namespace fsio
