#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "cfgkit/file_ops.h"

namespace cfgkit {
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
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.modifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  identity.changedNs = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
  return identity;
}

class PosixFileOpsImpl final : public FileOps {
 public:
  Status ReadFile(const std::string& path, std::string* contents, FileIdentity* identity) override {
    contents->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoToStatus(path, errno);
    struct stat info;
    size_t expected = 0;
    if (::fstat(fd, &info) == 0) {
      if (info.st_size > 0) expected = static_cast<size_t>(info.st_size);
      if (identity != nullptr) *identity = IdentityOf(info);
    }
    // Read straight into the result; a file that grew meanwhile is read to its end.
    Status status;
    size_t filled = 0;
    contents->resize(expected + 1);
    for (;;) {
      if (filled == contents->size()) contents->resize(contents->size() * 2);
      ssize_t n = ::read(fd, contents->data() + filled, contents->size() - filled);
      if (n > 0) {
        filled += static_cast<size_t>(n);
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        status = ErrnoToStatus(path, errno);
        break;
      }
    }
    contents->resize(filled);
    ::close(fd);
    return status;
  }

  Status Stat(const std::string& path, FileIdentity* identity) override {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
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

  Status CreateTemp(const std::string& path, int* fd) override {
    *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (*fd < 0) return ErrnoToStatus(path, errno);
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
    if (::link(from.c_str(), to.c_str()) != 0) return ErrnoToStatus(from, errno);
    return Status::OK();
  }

  Status SyncDir(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoToStatus(dir, errno);
    Status status;
    if (::fsync(fd) != 0) status = ErrnoToStatus(dir, errno);
    ::close(fd);
    return status;
  }

  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return ErrnoToStatus(path, errno);
    return Status::OK();
  }

  Status LockFile(const std::string& path, int* fd) override {
    *fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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

}  // namespace cfgkit
