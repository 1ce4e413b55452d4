#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/files.h"

namespace vxtest {

// A fresh folder under /tmp, removed with its content.
struct TempDir {
  TempDir() { mkdtemp(path.data()); }
  ~TempDir() { std::filesystem::remove_all(path); }
  const std::string& Path() const { return path; }
  std::string path = "/tmp/vxcore_test.XXXXXX";
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

using testsupport::ReadFile;
using testsupport::WriteFile;

}  // namespace vxtest
