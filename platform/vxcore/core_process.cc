#include "vxcore/core_process.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace core {

AString GetExeDirPath() {
  std::string path(256, '\0');
  while (true) {
    const ssize_t size = ::readlink("/proc/self/exe", path.data(), path.size());
    if (size < 0) return AString();
    if (static_cast<size_t>(size) < path.size()) {
      path.resize(static_cast<size_t>(size));
      break;
    }
    // The target may have been cut short; retry with room to spare.
    path.resize(path.size() * 2);
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return AString();
  return AString::FromBytes(std::string_view(path).substr(0, slash + 1));
}

AString GetSystemErrorString() { return AString(std::strerror(errno)); }

}  // namespace core
