#include "vxcore/personal_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fsio/file_ops.h"

namespace core {
namespace {

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// Reads the shell-quoted value that follows `name=` on one line.
bool ParseAssignment(std::string_view line, std::string_view name, std::string& value) {
  SkipBlanks(line);
  if (line.substr(0, name.size()) != name) return false;
  line.remove_prefix(name.size());
  SkipBlanks(line);
  if (line.empty() || line.front() != '=') return false;
  line.remove_prefix(1);
  SkipBlanks(line);
  if (line.empty() || line.front() != '"') return false;
  value.clear();
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '"') return true;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value.push_back(line[i]);
  }
  return false;
}

// HOME, or where it is unset or empty (a service, a cron job) the effective
// user's home in /etc/passwd, read by hand: the static binary has no name
// service. Empty when neither names an absolute folder.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  std::string users;
  if (!fsio::PosixFileOps().ReadFile("/etc/passwd", &users, nullptr).ok()) return std::string();
  const std::string uid = std::to_string(::geteuid());
  std::string_view rest = users;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    // name:password:uid:gid:comment:home:shell
    std::string_view fields[7];
    size_t count = 0;
    for (; count < 7 && !line.empty(); ++count) {
      const size_t colon = line.find(':');
      fields[count] = line.substr(0, colon);
      line.remove_prefix(colon == std::string_view::npos ? line.size() : colon + 1);
    }
    if (count >= 6 && fields[2] == uid && fields[5].starts_with('/')) return std::string(fields[5]);
  }
  return std::string();
}

}  // namespace

bool DocumentsFolderFromUserDirs(std::string_view userDirs, const std::string& home,
                                 std::string& folder) {
  static constexpr std::string_view kHome = "$HOME";
  bool found = false;
  while (!userDirs.empty()) {
    const size_t end = userDirs.find('\n');
    const std::string_view line = userDirs.substr(0, end);
    userDirs.remove_prefix(end == std::string_view::npos ? userDirs.size() : end + 1);
    std::string value;
    if (!ParseAssignment(line, "XDG_DOCUMENTS_DIR", value)) continue;
    if (value.compare(0, kHome.size(), kHome) == 0 &&
        (value.size() == kHome.size() || value[kHome.size()] == '/')) {
      folder = home + value.substr(kHome.size());
      found = true;
    } else if (!value.empty() && value.front() == '/') {
      folder = value;
      found = true;
    }
  }
  return found;
}

bool FindPersonalFolder(std::string& folder) {
  const std::string home = HomeFolder();
  if (home.empty()) {
    folder.clear();
    return false;
  }
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG base-directory rules say.
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string configFolder = configHome != nullptr && configHome[0] == '/'
                                       ? std::string(configHome)
                                       : home + "/.config";
  std::string userDirs;
  if (fsio::PosixFileOps().ReadFile(configFolder + "/user-dirs.dirs", &userDirs, nullptr).ok() &&
      DocumentsFolderFromUserDirs(userDirs, home, folder)) {
    return true;
  }
  folder = home + "/Documents";
  return true;
}

}  // namespace core
