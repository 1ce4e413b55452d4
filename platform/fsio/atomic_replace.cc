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
std::string DirOfPath(const std::string& path) {
  std::string dir = DirOf(path);
  return dir.empty() ? "." : dir;
}

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

// A file system that keeps no owners, modes or ACLs is no failure: the file
// then has what the file system gives every file.
Status Kept(const Status& status) { return status.IsNotSupported() ? Status::OK() : status; }

// A POSIX ACL as the kernel keeps it in an attribute: a 4-byte version, then
// entries of a 16-bit tag, 16-bit permissions and 32-bit id, little-endian.
constexpr size_t kAclHeader = 4, kAclEntry = 8;
constexpr uint16_t kAclUserObj = 0x01, kAclGroupObj = 0x04, kAclMask = 0x10, kAclOther = 0x20;

// Calls `change(tag, &permissions)` for each entry of `acl`.
template <class Change>
void ChangeAclEntries(std::string& acl, Change change) {
  for (size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
    auto* bytes = reinterpret_cast<unsigned char*>(&acl[at]);
    const uint16_t tag = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    uint16_t permissions = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
    change(tag, &permissions);
    bytes[2] = static_cast<unsigned char>(permissions), bytes[3] = static_cast<unsigned char>(permissions >> 8);
  }
}

// The access ACL a file created with mode 0666 gets in a folder whose default
// ACL is `inherited`: the umask does not apply, the mode masks the owner, the
// group class and the others.
std::string AclOfNewFile(std::string inherited) {
  bool hasMask = false;
  ChangeAclEntries(inherited, [&](uint16_t tag, uint16_t*) { hasMask |= tag == kAclMask; });
  ChangeAclEntries(inherited, [&](uint16_t tag, uint16_t* permissions) {
    if (tag == kAclUserObj || tag == kAclOther || tag == (hasMask ? kAclMask : kAclGroupObj)) {
      *permissions &= 06;
    }
  });
  return inherited;
}

// Gives the open file `fd` at `path` the owner, group, mode and ACL of the
// file `like` at `likePath`, as far as this user may, and never more: a group
// it could not keep gets nothing. Without `like`, what a new file in its
// folder gets.
Status CopyAccess(FileOps& ops, int fd, const std::string& path, const std::string& likePath,
                  const FileIdentity& like) {
  std::string acl;
  if (!like.exists) {
    const std::string folder = DirOfPath(path);
    // Made by root in a user's folder (a user's settings, set for them), it
    // is the folder owner's, as the folders and the lock made there are.
    FileIdentity owner;
    if (::geteuid() == 0 && ops.Stat(folder, &owner).ok() && owner.owner != 0) {
      ops.ChangeOwner(fd, owner.owner, owner.group).IgnoreError();
    }
    Status status = Kept(ops.ReadAcl(folder, /*folderDefault=*/true, &acl));
    if (!status.ok()) return status;
    if (!acl.empty()) return Kept(ops.WriteAcl(fd, AclOfNewFile(std::move(acl))));
    return Kept(ops.ChangeMode(fd, 0666 & ~ops.Umask()));
  }
  Status status = Kept(ops.ReadAcl(likePath, /*folderDefault=*/false, &acl));
  if (!status.ok()) return status;
  // The owner first: changing it clears the set-id bits that the mode restores.
  // A user who may not give the file away may still keep its group.
  if (!ops.ChangeOwner(fd, like.owner, like.group).ok()) {
    ops.ChangeOwner(fd, static_cast<uint32_t>(-1), like.group).IgnoreError();
  }
  uint32_t mode = like.mode & 07777;
  FileIdentity made;
  status = ops.Stat(path, &made, /*followLinks=*/false);
  if (!status.ok()) return status;
  if (made.group != like.group) {
    // The group's rights were for a group the file no longer has.
    if (acl.empty()) mode &= ~070u;
    ChangeAclEntries(acl, [](uint16_t tag, uint16_t* permissions) {
      if (tag == kAclGroupObj) *permissions = 0;
    });
  }
  // The ACL before the mode, which then sets the mask and the others as they
  // were; an empty one removes what the folder's default gave the temporary.
  status = Kept(ops.WriteAcl(fd, acl));
  if (status.ok()) status = Kept(ops.ChangeMode(fd, mode));
  return status;
}

// Writes `bytes` to the new file `path`, which gets the access asked for only
// once it is written (until then this user alone may read it), flushed unless
// it is a cache. `existingPath` names the file whose access it keeps.
// `*stampedNs`: see StagedFile.
Status WriteNewFile(FileOps& ops, const std::string& path, std::string_view bytes,
                    Permissions permissions, Durability durability,
                    const std::string& existingPath, const FileIdentity& existing,
                    int64_t* stampedNs) {
  int fd = -1;
  Status status = ops.CreateTemp(path, &fd);
  if (!status.ok()) return status;
  FdGuard guard(ops, fd);
  status = ops.Write(fd, bytes);
  if (status.ok() && stampedNs != nullptr) {
    // Only a proof for readers that want one: without it they read the file.
    *stampedNs = JustBeforeNowNs();
    if (!ops.SetModifiedTime(fd, *stampedNs).ok()) *stampedNs = 0;
  }
  if (status.ok() && permissions == Permissions::kKeepExisting) {
    status = CopyAccess(ops, fd, path, existingPath, existing);
  }
  if (status.ok() && durability == Durability::kDurable) status = ops.Sync(fd);
  Status closed = guard.Close();
  if (status.ok()) status = closed;
  if (!status.ok()) ops.Remove(path).IgnoreError();
  return status;
}

bool Trusted(const FileIdentity& identity) {
  return identity.owner == ::geteuid() || identity.owner == 0;
}

// The file a save of `path` replaces: the target of a symbolic link there,
// followed only while the link and its target's folder belong to this user
// or to root, so that nobody can make a save write where it did not mean to.
Status ResolveTarget(FileOps& ops, const std::string& path, std::string* target) {
  constexpr int kMaxLinks = 40;  // as the kernel allows
  if (Status status = CheckLinksOnTheWay(ops, path); !status.ok()) return status;
  std::string current = path;
  for (int links = 0; links < kMaxLinks; ++links) {
    FileIdentity identity;
    Status status = ops.Stat(current, &identity, /*followLinks=*/false);
    if (!status.ok()) return status;
    if (identity.kind != FileIdentity::Kind::kSymlink) {
      *target = std::move(current);
      return Status::OK();
    }
    if (!Trusted(identity)) return Status::IOError(current + ": a link of another user");
    std::string linked;
    status = ops.ReadLink(current, &linked);
    if (!status.ok()) return status;
    if (linked.empty()) return Status::IOError(current + ": an empty link");
    current = linked.front() == '/' ? linked : DirOf(current) + linked;
    FileIdentity folder;
    const std::string dir = DirOf(current);
    status = ops.Stat(dir.empty() ? "." : dir, &folder);
    if (!status.ok()) return status;
    if (!folder.exists || !Trusted(folder)) {
      return Status::IOError(current + ": links into a folder of another user");
    }
  }
  return Status::IOError(path + ": too many levels of links");
}

}  // namespace

Status CheckLinksOnTheWay(FileOps& ops, const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    FileIdentity folder;
    const std::string way = path.substr(0, slash);
    Status status = ops.Stat(way, &folder, /*followLinks=*/false);
    if (!status.ok()) return status;
    if (folder.kind == FileIdentity::Kind::kSymlink && !Trusted(folder)) {
      return Status::IOError(way + ": a link of another user");
    }
  }
  return Status::OK();
}

Status ForeseeReplace(FileOps& ops, const std::string& path) {
  std::string target;
  Status status = ResolveTarget(ops, path, &target);
  return status.ok() ? ops.MayReplace(target) : status;
}

namespace {

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
                            target, identity, nullptr);
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
      pending_(other.pending_),
      stampedNs_(other.stampedNs_) {
  other.pending_ = false;
}

StagedFile::~StagedFile() {
  if (pending_) ops_.Remove(tempPath_).IgnoreError();
}

Status StagedFile::Stage(const std::string& dir, const std::string& fileName,
                         std::string_view bytes, Permissions permissions) {
  Status status = ResolveTarget(ops_, JoinPath(dir, fileName), &targetPath_);
  if (!status.ok()) return status;
  // A link's target is replaced in its own folder, where a rename can reach it.
  dir_ = DirOf(targetPath_);
  if (dir_.empty()) dir_ = dir;
  tempPath_ = JoinPath(dir_, HiddenName(FileNameOf(targetPath_), kTempKind));
  FileIdentity existing;
  status = ops_.Stat(targetPath_, &existing);
  if (!status.ok()) return status;
  status = WriteNewFile(ops_, tempPath_, bytes, permissions, Durability::kDurable, targetPath_,
                        existing, &stampedNs_);
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
        WriteNewFile(ops, tempPath, bytes, permissions, durability, path, FileIdentity(), nullptr);
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
