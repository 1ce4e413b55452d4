// Real file operations, except that one chosen mutating call fails as a full
// disk would: the n-th such call, or the first call of a named kind.
#pragma once

#include <string>
#include <string_view>

#include "cfgkit/file_ops.h"

namespace testsupport {

class FaultyFileOps : public cfgkit::FileOpsWrapper {
 public:
  // Fails the n-th mutating call (counting from 1); 0 fails none.
  explicit FaultyFileOps(int failAt) : FileOpsWrapper(cfgkit::PosixFileOps()), failAt_(failAt) {}
  // Fails the first call named `call` (CreateTemp, Write, Sync, Close, Rename,
  // SyncDir, Link, LockFile); null or unknown fails none.
  explicit FaultyFileOps(const char* call)
      : FileOpsWrapper(cfgkit::PosixFileOps()), failCall_(call == nullptr ? "" : call) {}

  void Stop() { failAt_ = 0, failCall_.clear(); }
  const std::string& failed() const { return failed_; }  // the call that failed, or ""

  using Status = cfgkit::Status;
  Status CreateTemp(const std::string& path, int* fd) override {
    return Hit("CreateTemp") ? Error() : FileOpsWrapper::CreateTemp(path, fd);
  }
  Status Write(int fd, std::string_view data) override {
    return Hit("Write") ? Error() : FileOpsWrapper::Write(fd, data);
  }
  Status Sync(int fd) override { return Hit("Sync") ? Error() : FileOpsWrapper::Sync(fd); }
  Status Close(int fd) override {
    Status closed = FileOpsWrapper::Close(fd);  // the descriptor is released either way
    return Hit("Close") ? Error() : closed;
  }
  Status Rename(const std::string& from, const std::string& to) override {
    return Hit("Rename") ? Error() : FileOpsWrapper::Rename(from, to);
  }
  Status SyncDir(const std::string& dir) override {
    return Hit("SyncDir") ? Error() : FileOpsWrapper::SyncDir(dir);
  }
  Status Link(const std::string& from, const std::string& to) override {
    return Hit("Link") ? Error() : FileOpsWrapper::Link(from, to);
  }
  Status LockFile(const std::string& path, int* fd) override {
    return Hit("LockFile") ? Status::Busy(path) : FileOpsWrapper::LockFile(path, fd);
  }

 private:
  bool Hit(const char* call) {
    const bool hit = ++calls_ == failAt_ || (failed_.empty() && failCall_ == call);
    if (hit) failed_ = call;
    return hit;
  }
  static Status Error() { return Status::IOError("No space left on device"); }

  int failAt_ = 0, calls_ = 0;
  std::string failCall_, failed_;
};

}  // namespace testsupport
