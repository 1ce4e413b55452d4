#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cfgkit/file_ops.h"

namespace cfgkit {
namespace {

Status ErrnoToStatus(const std::string& context, int error) {
  std::string message = context + ": " + std::strerror(error);
  if (error == ENOENT) return Status::NotFound(std::move(message));
  return Status::IOError(std::move(message));
}

class PosixFileOpsImpl final : public FileOps {
 public:
  Status ReadFile(const std::string& path, std::string* contents) override {
    contents->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoToStatus(path, errno);
    struct stat info;
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
      contents->reserve(static_cast<size_t>(info.st_size));
    }
    char buffer[65536];
    Status status;
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        contents->append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        status = ErrnoToStatus(path, errno);
        break;
      }
    }
    ::close(fd);
    return status;
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
};

}  // namespace

FileOps& PosixFileOps() {
  static PosixFileOpsImpl instance;
  return instance;
}

}  // namespace cfgkit
