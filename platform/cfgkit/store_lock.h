// The exclusive lock that a save holds on each store folder it writes, so
// that writers in other processes take turns. Readers take no lock.
#pragma once

#include <string>

#include "cfgkit/file_ops.h"

namespace cfgkit {

// The lock file of a store folder; its name begins with '.', so it is never a store file.
constexpr const char* kLockFileName = ".cfgkit.lock";

class StoreLock {
 public:
  explicit StoreLock(FileOps& ops) : ops_(ops) {}
  StoreLock(StoreLock&& other) noexcept : ops_(other.ops_), fd_(other.fd_) { other.fd_ = -1; }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  StoreLock& operator=(StoreLock&&) = delete;
  ~StoreLock() { Release(); }

  // Waits a few seconds at most for the lock of `dir`; Busy when another
  // process keeps it longer.
  Status Acquire(const std::string& dir);

  void Release();

 private:
  FileOps& ops_;
  int fd_ = -1;
};

}  // namespace cfgkit
