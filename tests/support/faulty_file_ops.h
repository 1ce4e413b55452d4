// Real file operations, except that one chosen mutating call fails: the n-th
// such call, or the first call of a named kind, as a full disk would or with
// a chosen status (a file system without hard links, say).
#pragma once

#include <string>
#include <string_view>

#include "fsio/file_ops.h"

namespace testsupport {

class FaultyFileOps : public fsio::FileOpsWrapper {
 public:
  using Status = fsio::Status;

  // Fails the n-th mutating call (counting from 1); 0 fails none.
  explicit FaultyFileOps(int failAt) : FileOpsWrapper(fsio::PosixFileOps()), failAt_(failAt) {}
  // Fails the first call named `call` (CreateTemp, ChangeMode, Write, Sync,
  // Close, Rename, SyncDir, Link, LockFile, WriteAt, ReadAt), or every such
  // call when `always`; null or unknown fails none.
  explicit FaultyFileOps(const char* call, Status error = Full(), bool always = false)
      : FileOpsWrapper(fsio::PosixFileOps()),
        failCall_(call == nullptr ? "" : call),
        error_(std::move(error)),
        always_(always) {}

  void Stop() { failAt_ = 0, failCall_.clear(); }
  const std::string& failed() const { return failed_; }  // the call that failed, or ""

  static Status Full() { return Status::IOError("No space left on device"); }

  Status CreateTemp(const std::string& path, int* fd) override {
    return Hit("CreateTemp") ? error_ : FileOpsWrapper::CreateTemp(path, fd);
  }
  Status ChangeMode(int fd, uint32_t mode) override {
    return Hit("ChangeMode") ? error_ : FileOpsWrapper::ChangeMode(fd, mode);
  }
  Status Write(int fd, std::string_view data) override {
    return Hit("Write") ? error_ : FileOpsWrapper::Write(fd, data);
  }
  Status WriteAt(int fd, uint64_t offset, std::string_view data) override {
    return Hit("WriteAt") ? error_ : FileOpsWrapper::WriteAt(fd, offset, data);
  }
  Status ReadAt(int fd, uint64_t offset, char* buffer, size_t size) override {
    return HitByName("ReadAt") ? error_ : FileOpsWrapper::ReadAt(fd, offset, buffer, size);
  }
  Status Sync(int fd) override { return Hit("Sync") ? error_ : FileOpsWrapper::Sync(fd); }
  Status Close(int fd) override {
    Status closed = FileOpsWrapper::Close(fd);  // the descriptor is released either way
    return Hit("Close") ? error_ : closed;
  }
  Status Rename(const std::string& from, const std::string& to) override {
    return Hit("Rename") ? error_ : FileOpsWrapper::Rename(from, to);
  }
  Status SyncDir(const std::string& dir) override {
    return Hit("SyncDir") ? error_ : FileOpsWrapper::SyncDir(dir);
  }
  Status Link(const std::string& from, const std::string& to) override {
    return Hit("Link") ? error_ : FileOpsWrapper::Link(from, to);
  }
  Status LockFile(const std::string& path, int* fd) override {
    return Hit("LockFile") ? Status::Busy(path) : FileOpsWrapper::LockFile(path, fd);
  }

 private:
  bool Hit(const char* call) {
    ++calls_;
    if (calls_ == failAt_) {
      failed_ = call;
      return true;
    }
    return HitByName(call);
  }
  // Reads and clean-ups are not counted: the n-th call counts the steps that
  // a change is made of.
  bool HitByName(const char* call) {
    const bool hit = (failed_.empty() || always_) && failCall_ == call;
    if (hit) failed_ = call;
    return hit;
  }

  int failAt_ = 0, calls_ = 0;
  std::string failCall_, failed_;
  Status error_ = Full();
  bool always_ = false;
};

}  // namespace testsupport
