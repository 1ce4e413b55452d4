#include "vxcore/atomic_file_write.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "vxcore/posix_io.h"

namespace core {
namespace {

// Removes the temporary file unless the rename has consumed it.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!committed_) {
      const int savedErrno = errno;
      ::unlink(path_.c_str());
      errno = savedErrno;
    }
  }
  void Commit() { committed_ = true; }

 private:
  std::string path_;
  bool committed_ = false;
};

bool SyncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  // Some file systems cannot sync a folder at all (EINVAL); the rename is then as durable as
  // they make it.
  if (::fsync(fd.Get()) != 0 && errno != EINVAL) return false;
  return fd.Close();
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string tempPath = (slash == std::string::npos ? "" : folder) + "." + name + ".XXXXXX";

  UniqueFd fd(::mkostemp(tempPath.data(), O_CLOEXEC));
  if (!fd.IsValid()) return false;
  TempFileGuard guard(tempPath);

  struct stat existing;
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
  if (::fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0 ||
      !fd.Close() || ::rename(tempPath.c_str(), path.c_str()) != 0) {
    return false;
  }
  guard.Commit();
  return SyncFolder(folder);
}

}  // namespace core
