#include "fsio/atomic_replace.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <set>

namespace fsio {
namespace {

constexpr char kTempKind[] = "tmp";
constexpr char kBackupKind[] = "old";

// A random part of temporary names: a run that died leaves its names behind,
// and a later run may get the same process id.
uint32_t RunSalt() {
  static const uint32_t salt = [] {
    uint32_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
      value = static_cast<uint32_t>(::getpid()) ^ static_cast<uint32_t>(::time(nullptr));
    }
    return value;
  }();
  return salt;
}

// ".<name>.<kind>.<pid>-<salt>.<n>": unique within and across processes, and
// never a name that loading or the image cache reads.
std::string HiddenName(std::string_view fileName, const char* kind) {
  static std::atomic<unsigned> counter{0};
  return "." + std::string(fileName) + "." + kind + "." + std::to_string(::getpid()) + "-" +
         std::to_string(RunSalt()) + "." + std::to_string(counter.fetch_add(1));
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }
std::string DirOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// A time that no later write to a file can be stamped with: file times come
// from the coarse clock, which does not go below its present value. It is odd,
// so a file system that keeps times in coarser steps (100 ns, 1 us, 1 s, 2 s:
// all even) cannot keep it, and its files never count as stamped.
int64_t JustBeforeNowNs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  int64_t stamp = now.tv_sec * 1000000000LL + now.tv_nsec - 1;
  return stamp % 2 != 0 ? stamp : stamp - 1;
}

// Writes `bytes` to the new file `path` with the permissions asked for,
// flushed unless it is a cache. `*stampedNs`: see StagedFile.
Status WriteNewFile(FileOps& ops, const std::string& path, std::string_view bytes,
                    Permissions permissions, Durability durability, const FileIdentity& existing,
                    int64_t* stampedNs) {
  int fd = -1;
  uint32_t mode = permissions == Permissions::kPrivate ? 0600 : 0666;
  Status status = ops.CreateTemp(path, mode, &fd);
  if (!status.ok()) return status;
  FdGuard guard(ops, fd);
  if (permissions == Permissions::kKeepExisting && existing.exists) {
    status = ops.CopyOwnerAndMode(fd, existing);
  }
  if (status.ok()) status = ops.Write(fd, bytes);
  if (status.ok() && stampedNs != nullptr) {
    // Only a proof for readers that want one: without it they read the file.
    *stampedNs = JustBeforeNowNs();
    if (!ops.SetModifiedTime(fd, *stampedNs).ok()) *stampedNs = 0;
  }
  if (status.ok() && durability == Durability::kDurable) status = ops.Sync(fd);
  Status closed = guard.Close();
  if (status.ok()) status = closed;
  if (!status.ok()) ops.Remove(path).IgnoreError();
  return status;
}

// Keeps the current content of `target` under a hidden name in its folder, so
// that it can be put back. `*backupPath` stays empty when there is no target.
Status KeepBackup(FileOps& ops, const std::string& target, std::string* backupPath) {
  backupPath->clear();
  std::string path = JoinPath(DirOf(target), HiddenName(FileNameOf(target), kBackupKind));
  Status status = ops.Link(target, path);
  if (status.IsNotFound()) return Status::OK();
  if (status.IsNotSupported()) {
    // No hard links here (FAT, many network shares): a flushed copy serves.
    std::string bytes;
    FileIdentity identity;
    status = ops.ReadFile(target, &bytes, &identity);
    if (status.IsNotFound()) return Status::OK();
    if (status.ok()) {
      status = WriteNewFile(ops, path, bytes, Permissions::kKeepExisting, Durability::kDurable,
                            identity, nullptr);
    }
  }
  if (status.ok()) *backupPath = std::move(path);
  return status;
}

// A folder that cannot be flushed keeps its renames as durable as it makes them.
Status SyncFolder(FileOps& ops, const std::string& dir) {
  Status status = ops.SyncDir(dir);
  return status.IsNotSupported() ? Status::OK() : status;
}

struct Done {
  std::string target;
  std::string backupPath;  // empty when the target did not exist
};

// Puts back what the targets held before. Best effort: this runs only after
// another failure, which is what gets reported.
void RollBack(FileOps& ops, const std::vector<Done>& done) {
  for (auto it = done.rbegin(); it != done.rend(); ++it) {
    if (it->backupPath.empty()) {
      ops.Remove(it->target).IgnoreError();
    } else {
      ops.Rename(it->backupPath, it->target).IgnoreError();
    }
    SyncFolder(ops, DirOf(it->target)).IgnoreError();
  }
}

}  // namespace

bool IsLeftoverOfReplace(std::string_view fileName) {
  if (fileName.empty() || fileName.front() != '.') return false;
  for (const char* kind : {kTempKind, kBackupKind}) {
    std::string mark = std::string(".") + kind + ".";
    if (fileName.find(mark) != std::string_view::npos) return true;
  }
  return false;
}

std::string JoinPath(const std::string& dir, const std::string& fileName) {
  if (dir.empty() || dir.back() == '/') return dir + fileName;
  return dir + "/" + fileName;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : ops_(other.ops_),
      dir_(std::move(other.dir_)),
      tempPath_(std::move(other.tempPath_)),
      targetPath_(std::move(other.targetPath_)),
      pending_(other.pending_) {
  other.pending_ = false;
}

StagedFile::~StagedFile() {
  if (pending_) ops_.Remove(tempPath_).IgnoreError();
}

Status StagedFile::Stage(const std::string& dir, const std::string& fileName,
                         std::string_view bytes, Permissions permissions) {
  dir_ = dir;
  targetPath_ = JoinPath(dir, fileName);
  tempPath_ = JoinPath(dir, HiddenName(fileName, kTempKind));
  FileIdentity existing;
  Status status = ops_.Stat(targetPath_, &existing);
  if (!status.ok()) return status;
  status = WriteNewFile(ops_, tempPath_, bytes, permissions, Durability::kDurable, existing,
                        &stampedNs_);
  pending_ = status.ok();
  return status;
}

Status ReplaceAll(FileOps& ops, std::vector<StagedFile>& files,
                  const std::vector<std::string>& removals) {
  std::vector<Done> done;
  std::set<std::string> dirs;
  Status status;
  for (StagedFile& file : files) {
    std::string backupPath;
    status = KeepBackup(ops, file.targetPath(), &backupPath);
    if (!status.ok()) break;
    status = ops.Rename(file.tempPath(), file.targetPath());
    if (!status.ok()) {
      if (!backupPath.empty()) ops.Remove(backupPath).IgnoreError();
      break;
    }
    file.MarkRenamed();
    done.push_back({file.targetPath(), std::move(backupPath)});
    dirs.insert(file.dir());
  }
  for (size_t i = 0; status.ok() && i < removals.size(); ++i) {
    std::string backupPath;
    status = KeepBackup(ops, removals[i], &backupPath);
    if (!status.ok() || backupPath.empty()) continue;
    status = ops.Remove(removals[i]);
    if (!status.ok()) {
      ops.Remove(backupPath).IgnoreError();
      break;
    }
    // Putting the backup back restores the removed file.
    done.push_back({removals[i], std::move(backupPath)});
    dirs.insert(DirOf(removals[i]));
  }
  for (auto dir = dirs.begin(); status.ok() && dir != dirs.end(); ++dir) {
    status = SyncFolder(ops, *dir);
  }
  if (!status.ok()) {
    RollBack(ops, done);
    return status;
  }
  for (const Done& item : done) {
    if (!item.backupPath.empty()) ops.Remove(item.backupPath).IgnoreError();
  }
  return Status::OK();
}

Status ReplaceFile(FileOps& ops, const std::string& path, std::string_view bytes,
                   Permissions permissions, Durability durability) {
  if (durability == Durability::kCache) {
    // No flush and no roll-back: a crash may lose it, and its readers check it.
    std::string tempPath = JoinPath(DirOf(path), HiddenName(FileNameOf(path), kTempKind));
    Status status =
        WriteNewFile(ops, tempPath, bytes, permissions, durability, FileIdentity(), nullptr);
    if (status.ok()) status = ops.Rename(tempPath, path);
    if (!status.ok()) ops.Remove(tempPath).IgnoreError();
    return status;
  }
  std::vector<StagedFile> staged;
  staged.emplace_back(ops);
  Status status = staged.back().Stage(DirOf(path), FileNameOf(path), bytes, permissions);
  if (!status.ok()) return status;
  return ReplaceAll(ops, staged);
}

}  // namespace fsio
