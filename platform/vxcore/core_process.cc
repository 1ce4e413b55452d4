#include "vxcore/core_process.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "vxcore/tal_debug.h"

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

AString GetHostName() {
  static const AString hostName = [] {
    char buffer[2048];
    if (::gethostname(buffer, sizeof buffer) != 0) {
      TalDebug(1, L"Error getting hostname: %s\n", GetSystemErrorString().c_str());
      return AString(L"unknown");
    }
    buffer[sizeof buffer - 1] = '\0';
    return AString(buffer);
  }();
  return hostName;
}

AString GetSystemErrorString() { return AString(std::strerror(errno)); }

}  // namespace core
