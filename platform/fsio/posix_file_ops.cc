#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
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

// Opens the lock file read-write where the process may, so that NFS (which
// emulates flock with fcntl locks) can lock it, and read-only otherwise. A new
// lock file may be written by whoever may write the folder.
// Reads straight into `contents`; a file that grew meanwhile is read to its end.
Status ReadToEnd(int fd, size_t expected, const std::string& name, std::string* contents) {
  Status status;
  size_t filled = 0;
  contents->resize(std::max<size_t>(expected + 1, 4096));
  for (;;) {
    if (filled == contents->size()) contents->resize(contents->size() * 2);
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
  contents->resize(filled);
  return status;
}

int OpenLockFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    struct stat folder;
    std::string dir = path.substr(0, path.rfind('/') + 1);
    if (::stat(dir.empty() ? "." : dir.c_str(), &folder) == 0) {
      ::fchmod(fd, 0644 | (folder.st_mode & 0022));
    }
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  return fd;
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
    if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return ErrnoToStatus(dir, errno);
    return Status::OK();
  }

  Status CreateTemp(const std::string& path, uint32_t mode, int* fd) override {
    *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
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

  Status CopyOwnerAndMode(int fd, const FileIdentity& like) override {
    struct stat info;
    if (::fstat(fd, &info) != 0) return ErrnoToStatus("fstat", errno);
    // The owner first: changing it clears the set-id bits that the mode restores.
    if (info.st_uid != like.owner || info.st_gid != like.group) {
      if (::fchown(fd, like.owner, like.group) != 0 && info.st_gid != like.group) {
        // A user who may not give the file away may still keep its group.
        if (::fchown(fd, static_cast<uid_t>(-1), like.group) != 0 && errno != EPERM) {
          return ErrnoToStatus("fchown", errno);
        }
      }
    }
    if (::fchmod(fd, like.mode & 07777) != 0) return ErrnoToStatus("fchmod", errno);
    return Status::OK();
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
    while (::flock(*fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
        ::close(*fd);
        *fd = -1;
        if (error == EWOULDBLOCK) return Status::Busy(path + ": held by another process");
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
