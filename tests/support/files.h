// Files as bytes, and store files as XML, for every suite. Included by path
// relative to this folder, so that suites without the tests folder on their
// include path can use it too.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under /tmp, removed with its content.
struct TempDir {
  TempDir() { mkdtemp(path.data()); }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string path = "/tmp/setwise_test.XXXXXX";
};

// Sets (nullopt: unsets) one environment variable until the end of the scope.
struct ScopedEnv {
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name(name) {
    if (const char* old = getenv(name)) previous = old;
    Set(value);
  }
  ~ScopedEnv() { Set(previous); }
  void Set(const std::optional<std::string>& value) {
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }
  std::string name;
  std::optional<std::string> previous;
};

// Store file names hold it: "<host>_user.XML".
inline std::string HostName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

// Creates the file's folder first when it is missing.
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream(path, std::ios::binary) << bytes;
}

// Sorted, without the lock file: it stays, while anything else a save leaves is a fault.
// A folder that cannot be listed holds none.
inline std::vector<std::string> ListNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error))
    if (entry.path().filename() != ".cfgkit.lock") names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// What dead or failed writes left in `dirs`: their temporary files all begin with '.'.
inline std::vector<std::string> Leftovers(std::initializer_list<std::filesystem::path> dirs) {
  std::vector<std::string> names;
  for (const std::filesystem::path& dir : dirs)
    for (const std::string& name : ListNames(dir))
      if (name[0] == '.') names.push_back(dir / name);
  return names;
}

inline std::string Key(const std::string& name, const std::string& body = "") {
  return "<key name=\"" + name + "\">" + body + "</key>";
}
inline std::string Str(const std::string& name, const std::string& text = "") {
  return "<value name=\"" + name + "\" type=\"string\">" + text + "</value>";
}
inline std::string Int(const std::string& name, const std::string& number = "0") {
  return "<value name=\"" + name + "\" type=\"int\">" + number + "</value>";
}
inline std::string Int(const std::string& name, int number) {
  return Int(name, std::to_string(number));
}

// The store file of the top-level key `key`, as the writer would begin it.
inline std::string StoreFile(const std::string& key, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + Key(key, body) + "\n";
}
inline void WriteStoreFile(const std::filesystem::path& dir, const std::string& key,
                           const std::string& body) {
  WriteFile(dir / (key + ".XML"), StoreFile(key, body));
}

}  // namespace testsupport
