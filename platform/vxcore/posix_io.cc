#include "vxcore/posix_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace core {

UniqueFd::~UniqueFd() { Close(); }

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool UniqueFd::Close() {
  if (fd_ < 0) return true;
  // Linux releases the descriptor even when close fails, so it is never retried.
  return ::close(Release()) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  std::string content;
  char buffer[8192];
  while (true) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof(buffer));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  bytes = std::move(content);
  return true;
}

}  // namespace core
