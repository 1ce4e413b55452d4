#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <new>
#include <thread>

#include "fsio/file_ops.h"

namespace fsio {
namespace {

Status ErrnoToStatus(const std::string& context, int error) {
  std::string message = context + ": " + std::strerror(error);
  if (error == ENOENT) return Status::NotFound(std::move(message));
  return Status::IOError(std::move(message));
}

// How long a save waits for another process's lock before it gives up.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockRetryInterval = std::chrono::milliseconds(5);

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.exists = true;
  identity.kind = S_ISREG(info.st_mode)   ? FileIdentity::Kind::kRegular
                  : S_ISDIR(info.st_mode) ? FileIdentity::Kind::kDirectory
                  : S_ISLNK(info.st_mode) ? FileIdentity::Kind::kSymlink
                                          : FileIdentity::Kind::kOther;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.modifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  identity.changedNs = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
  identity.mode = info.st_mode & 07777;
  identity.owner = info.st_uid;
  identity.group = info.st_gid;
  return identity;
}

Status TooLarge(const std::string& name) {
  return Status::Corruption(name + ": larger than " + std::to_string(kMaxReadSize >> 20) +
                            " MiB, the most a store file or document may hold");
}

// Reads straight into `contents`, at most kMaxReadSize bytes and one more to
// tell a file that is too large; a file that grew meanwhile is read to its end.
Status ReadToEnd(int fd, size_t expected, const std::string& name, std::string* contents) {
  Status status;
  size_t filled = 0;
  try {
    contents->resize(std::min<size_t>(std::max<size_t>(expected + 1, 4096), kMaxReadSize + 1));
    for (;;) {
      if (filled == contents->size()) {
        if (filled > kMaxReadSize) {
          status = TooLarge(name);
          break;
        }
        contents->resize(std::min<size_t>(contents->size() * 2, kMaxReadSize + 1));
      }
      ssize_t n = ::read(fd, contents->data() + filled, contents->size() - filled);
      if (n > 0) {
        filled += static_cast<size_t>(n);
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        status = ErrnoToStatus(name, errno);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    status = ErrnoToStatus(name, ENOMEM);
  }
  if (status.ok() && filled > kMaxReadSize) status = TooLarge(name);
  contents->resize(status.ok() ? filled : 0);
  if (!status.ok()) contents->shrink_to_fit();
  return status;
}

// A file system that cannot store owners, modes or ACLs (FAT through FUSE, say).
bool CannotStore(int error) { return error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP; }

Status AccessStatus(const std::string& context, int error) {
  if (CannotStore(error)) return Status::NotSupported(context + ": " + std::strerror(error));
  return ErrnoToStatus(context, error);
}

// Whether the file or folder `path` (not a link's target) has any of the
// inode flags `flags`; false where the file system keeps none.
bool HasFlags(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // unknown: the rename will tell
  int held = 0;
  const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &held) == 0;
  ::close(fd);
  return known && (held & flags) != 0;
}

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";

// The mode of a folder's lock file: writable by whoever may write the folder,
// and readable by nobody else, as a reader could hold a lock that writers wait for.
mode_t LockFileMode(const struct stat& folder) {
  mode_t mode = 0600;
  if (folder.st_mode & S_IWGRP) mode |= 0060;
  if (folder.st_mode & S_IWOTH) mode |= 0006;
  return mode;
}

// Whether the lock file is as its folder says: its mode, and in a folder its
// group may write, its group (or the group's other members could not open it).
bool AsItsFolderSays(const struct stat& lock, const struct stat& folder) {
  return (lock.st_mode & 0777) == LockFileMode(folder) &&
         (!(folder.st_mode & S_IWGRP) || lock.st_gid == folder.st_gid);
}

// A new lock file at `path`, as its folder says as far as this user may make
// it so, whose descriptor is returned.
int CreateLockFile(const std::string& path, const struct stat& folder) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // Made by root in a user's folder, it must still be the folder owner's.
  const uid_t owner = ::geteuid() == 0 ? folder.st_uid : static_cast<uid_t>(-1);
  static_cast<void>(::fchown(fd, owner, folder.st_gid));
  static_cast<void>(::fchmod(fd, LockFileMode(folder)));
  return fd;
}

// Opens the lock file of a folder for writing. One that is not as its folder
// says (left by an older version) is not trusted: a user who may read it but
// not write it could hold a lock, and keep holding it through any descriptor
// opened before a chmod. Its owner (or root) replaces it, unless the file
// system cannot make a new one any better.
int OpenLockFile(const std::string& path) {
  std::string dir = path.substr(0, path.rfind('/') + 1);
  struct stat folder;
  if (::stat(dir.empty() ? "." : dir.c_str(), &folder) != 0) return -1;
  int fd = CreateLockFile(path, folder);
  if (fd >= 0 || errno != EEXIST) return fd;
  fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat lock;
  if (::fstat(fd, &lock) != 0 || !S_ISREG(lock.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  const bool mayReplace = lock.st_uid == ::geteuid() || ::geteuid() == 0;
  if (AsItsFolderSays(lock, folder) || !mayReplace) return fd;
  const std::string fresh = path + "." + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  int replacement = CreateLockFile(fresh, folder);
  if (replacement < 0) return fd;
  struct stat made;
  if (::fstat(replacement, &made) != 0 || !AsItsFolderSays(made, folder) ||
      ::rename(fresh.c_str(), path.c_str()) != 0) {
    ::unlink(fresh.c_str());
    ::close(replacement);
    return fd;
  }
  ::close(fd);
  return replacement;
}

// An exclusive lock of the whole file, owned by the open file rather than the
// process, so two stores of one process exclude each other as two processes do.
bool TryWriteLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

class PosixFileOpsImpl final : public FileOps {
 public:
  Status ReadFile(const std::string& path, std::string* contents, FileIdentity* identity) override {
    contents->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ErrnoToStatus(path, errno);
    struct stat info;
    size_t expected = 0;
    if (::fstat(fd, &info) == 0) {
      if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return Status::NotSupported(path + ": not a regular file");
      }
      if (static_cast<uint64_t>(info.st_size) > kMaxReadSize) {
        ::close(fd);
        return TooLarge(path);
      }
      if (info.st_size > 0) expected = static_cast<size_t>(info.st_size);
      if (identity != nullptr) *identity = IdentityOf(info);
    }
    Status status = ReadToEnd(fd, expected, path, contents);
    ::close(fd);
    return status;
  }

  Status ReadStream(int fd, const std::string& name, std::string* contents) override {
    contents->clear();
    return ReadToEnd(fd, 0, name, contents);
  }

  Status Stat(const std::string& path, FileIdentity* identity, bool followLinks) override {
    struct stat info;
    int result = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result == 0) {
      *identity = IdentityOf(info);
      return Status::OK();
    }
    *identity = FileIdentity();
    if (errno == ENOENT) return Status::OK();
    return ErrnoToStatus(path, errno);
  }

  Status ListDir(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* handle = ::opendir(dir.c_str());
    if (handle == nullptr) return ErrnoToStatus(dir, errno);
    errno = 0;
    while (struct dirent* entry = ::readdir(handle)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") names->emplace_back(name);
    }
    int error = errno;
    ::closedir(handle);
    if (error != 0) return ErrnoToStatus(dir, error);
    return Status::OK();
  }

  Status MakeDir(const std::string& dir, uint32_t mode) override {
    if (::mkdir(dir.c_str(), mode) != 0) {
      return errno == EEXIST ? Status::OK() : ErrnoToStatus(dir, errno);
    }
    // Made by root in another user's folder (a user's home, under sudo), it
    // is that user's, or the user could no longer save in it.
    if (::geteuid() == 0) {
      const std::string folder = dir.substr(0, dir.find_last_not_of('/') + 1);
      const size_t slash = folder.rfind('/');
      const std::string parent = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
      struct stat info;
      if (::stat(parent.c_str(), &info) == 0 && info.st_uid != 0) {
        static_cast<void>(::lchown(dir.c_str(), info.st_uid, info.st_gid));
      }
    }
    return Status::OK();
  }

  Status ReadLink(const std::string& path, std::string* target) override {
    char buffer[4096];
    ssize_t size = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (size < 0) return ErrnoToStatus(path, errno);
    if (static_cast<size_t>(size) == sizeof buffer) return ErrnoToStatus(path, ENAMETOOLONG);
    target->assign(buffer, static_cast<size_t>(size));
    return Status::OK();
  }

  Status CreateTemp(const std::string& path, int* fd) override {
    *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (*fd < 0) return ErrnoToStatus(path, errno);
    return Status::OK();
  }

  Status OpenExisting(const std::string& path, bool writable, int* fd,
                      FileIdentity* identity) override {
    int flags = (writable ? O_WRONLY : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    *fd = ::open(path.c_str(), flags);
    if (*fd < 0) return ErrnoToStatus(path, errno);
    struct stat info;
    if (::fstat(*fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(*fd);
      *fd = -1;
      return Status::NotSupported(path + ": not a regular file");
    }
    *identity = IdentityOf(info);
    return Status::OK();
  }

  Status ChangeOwner(int fd, uint32_t owner, uint32_t group) override {
    if (::fchown(fd, owner, group) != 0) return AccessStatus("fchown", errno);
    return Status::OK();
  }

  Status ChangeMode(int fd, uint32_t mode) override {
    if (::fchmod(fd, mode) != 0) return AccessStatus("fchmod", errno);
    return Status::OK();
  }

  Status ReadAcl(const std::string& path, bool folderDefault, std::string* acl) override {
    acl->clear();
    const char* name = folderDefault ? kDefaultAcl : kAccessAcl;
    for (;;) {
      ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
      if (size < 0) return errno == ENODATA ? Status::OK() : AccessStatus(path, errno);
      acl->resize(static_cast<size_t>(size));
      size = ::getxattr(path.c_str(), name, acl->data(), acl->size());
      if (size >= 0) {
        acl->resize(static_cast<size_t>(size));
        return Status::OK();
      }
      if (errno != ERANGE) return AccessStatus(path, errno);
    }
  }

  Status WriteAcl(int fd, std::string_view acl) override {
    if (acl.empty()) {
      if (::fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA) {
        return AccessStatus("fremovexattr", errno);
      }
      return Status::OK();
    }
    if (::fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) != 0) {
      return AccessStatus("fsetxattr", errno);
    }
    return Status::OK();
  }

  uint32_t Umask() override {
    // Read rather than set and restored: another thread may create files meanwhile.
    char buffer[4096];
    std::string status;
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ssize_t n;
      while ((n = ::read(fd, buffer, sizeof buffer)) > 0) status.append(buffer, static_cast<size_t>(n));
      ::close(fd);
    }
    size_t at = status.find("\nUmask:");
    if (at != std::string::npos) {
      return static_cast<uint32_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    }
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
  }

  Status Write(int fd, std::string_view data) override {
    while (!data.empty()) {
      ssize_t n = ::write(fd, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoToStatus("write", errno);
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return Status::OK();
  }

  Status SetModifiedTime(int fd, int64_t ns) override {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {ns / 1000000000, ns % 1000000000}};
    if (::futimens(fd, times) != 0) return ErrnoToStatus("futimens", errno);
    return Status::OK();
  }

  Status ReadAt(int fd, uint64_t offset, char* buffer, size_t size) override {
    while (size > 0) {
      ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrnoToStatus("read", errno);
      if (n == 0) return Status::IOError("read: the file is shorter than expected");
      buffer += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return Status::OK();
  }

  Status WriteAt(int fd, uint64_t offset, std::string_view data) override {
    while (!data.empty()) {
      ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrnoToStatus("write", errno);
      data.remove_prefix(static_cast<size_t>(n));
      offset += static_cast<uint64_t>(n);
    }
    return Status::OK();
  }

  Status MapUnchanging(int fd, size_t size, const char** data) override {
    // A broken lease is signalled with SIGURG, which is ignored by default:
    // the writer simply waits for this process.
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
      return Status::NotSupported(std::string("lease: ") + std::strerror(errno));
    }
    // Cut short before the lease was taken: the mapping would fault.
    struct stat info;
    if (::fstat(fd, &info) != 0 || static_cast<uint64_t>(info.st_size) < size) {
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      return Status::IOError("mmap: the file is shorter than expected");
    }
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
      int error = errno;
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      return ErrnoToStatus("mmap", error);
    }
    *data = static_cast<const char*>(mapping);
    return Status::OK();
  }

  // Page by page, the faults of a whole read cost more than the reading on a
  // virtual machine. A kernel without the advice maps pages as they fault.
  void MapInWhole(const char* data, size_t size) override {
    static_cast<void>(::madvise(const_cast<char*>(data), size, MADV_POPULATE_READ));
  }

  void Unmap(const char* data, size_t size) override { ::munmap(const_cast<char*>(data), size); }

  Status Sync(int fd) override {
    if (::fsync(fd) != 0) return ErrnoToStatus("fsync", errno);
    return Status::OK();
  }

  Status Close(int fd) override {
    if (::close(fd) != 0) return ErrnoToStatus("close", errno);
    return Status::OK();
  }

  Status Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return ErrnoToStatus(to, errno);
    return Status::OK();
  }

  Status MayReplace(const std::string& path) override {
    const size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    struct stat file;
    const bool fileExists = ::lstat(path.c_str(), &file) == 0;
    const std::string ownFolder = folder;
    // The folders a save would create are as writable as the first that exists.
    struct stat info;
    while (::stat(folder.c_str(), &info) != 0) {
      if (errno != ENOENT) return ErrnoToStatus(folder, errno);
      const size_t up = folder.find_last_of('/');
      if (up == std::string::npos || up == 0) {
        folder = up == 0 ? "/" : ".";
      } else {
        folder.resize(up);
      }
    }
    if (!S_ISDIR(info.st_mode)) return ErrnoToStatus(folder, ENOTDIR);
    // Counts a read-only file system and an immutable folder too.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      return ErrnoToStatus(folder, errno);
    }
    // An append-only folder takes new files but no rename: a save there would
    // only leave its temporary behind. A folder the save creates has no flags.
    if (folder == ownFolder && HasFlags(folder, FS_APPEND_FL)) return ErrnoToStatus(folder, EPERM);
    if (!fileExists) return Status::OK();
    const uid_t user = ::geteuid();
    if ((info.st_mode & S_ISVTX) != 0 && user != 0 && file.st_uid != user &&
        info.st_uid != user) {
      return ErrnoToStatus(path, EPERM);
    }
    if (!S_ISREG(file.st_mode)) return Status::OK();
    if (HasFlags(path, FS_IMMUTABLE_FL | FS_APPEND_FL)) return ErrnoToStatus(path, EPERM);
    return Status::OK();
  }

  Status Link(const std::string& from, const std::string& to) override {
    if (::link(from.c_str(), to.c_str()) == 0) return Status::OK();
    int error = errno;
    if (error == EPERM || error == EOPNOTSUPP || error == EXDEV || error == ENOSYS ||
        error == EMLINK) {
      return Status::NotSupported(from + ": " + std::strerror(error));
    }
    return ErrnoToStatus(from, error);
  }

  Status SyncDir(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoToStatus(dir, errno);
    Status status;
    if (::fsync(fd) != 0) {
      status = errno == EINVAL ? Status::NotSupported(dir + ": cannot flush a folder")
                               : ErrnoToStatus(dir, errno);
    }
    ::close(fd);
    return status;
  }

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return ErrnoToStatus(path, errno);
    return Status::OK();
  }

  bool HasReliableTimes(const std::string& dir) override {
    struct statfs info;
    if (::statfs(dir.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
      case MSDOS_SUPER_MAGIC:
      case 0x2011BAB0UL:  // exFAT
      case NFS_SUPER_MAGIC:
      case SMB_SUPER_MAGIC:
      case 0xFE534D42UL:  // SMB2
      case 0xFF534D42UL:  // CIFS
      case FUSE_SUPER_MAGIC:
      case 0x6B414653UL:  // AFS
      case CODA_SUPER_MAGIC:
      case 0x47504653UL:  // GPFS
      case 0x0BD00BD0UL:  // Lustre
      case 0x01161970UL:  // GFS2
      case 0x7461636fUL:  // OCFS2
      case V9FS_MAGIC:
        return false;
      default:
        return true;
    }
  }

  Status LockFile(const std::string& path, int* fd) override {
    *fd = OpenLockFile(path);
    if (*fd < 0) return ErrnoToStatus(path, errno);
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (!TryWriteLock(*fd)) {
      int error = errno;
      if (error == EINTR) continue;
      const bool held = error == EAGAIN || error == EACCES;
      if (!held || std::chrono::steady_clock::now() >= deadline) {
        ::close(*fd);
        *fd = -1;
        if (held) return Status::Busy(path + ": held by another process");
        return ErrnoToStatus(path, error);
      }
      std::this_thread::sleep_for(kLockRetryInterval);
    }
    return Status::OK();
  }

  Status UnlockFile(int fd) override {
    // Closing the descriptor releases the lock.
    if (::close(fd) != 0) return ErrnoToStatus("close", errno);
    return Status::OK();
  }
};

}  // namespace

FileOps& PosixFileOps() {
  static PosixFileOpsImpl instance;
  return instance;
}

}  // namespace fsio
