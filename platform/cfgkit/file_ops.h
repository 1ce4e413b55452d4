// Every disk access of the store goes through FileOps, so tests can make any
// single step fail (a full disk, a folder that cannot be written) and check
// that nothing was damaged. Paths use '/' separators.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/status.h"

namespace cfgkit {

// What tells one version of a file from another: a file replaced by a rename
// has a new inode, one edited in place a new size or change time.
struct FileIdentity {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;

  bool operator==(const FileIdentity&) const = default;
};

class FileOps {
 public:
  virtual ~FileOps() = default;

  // The whole content of the file at `path`, and when `identity` is not null
  // the identity of the very file that was read. NotFound when it does not exist.
  virtual Status ReadFile(const std::string& path, std::string* contents,
                          FileIdentity* identity) = 0;

  // The identity of the file at `path`; `exists` false (and OK) when there is none.
  virtual Status Stat(const std::string& path, FileIdentity* identity) = 0;

  // The names of the entries of `dir`, without "." and "..", in no particular
  // order. NotFound when the folder does not exist.
  virtual Status ListDir(const std::string& dir, std::vector<std::string>* names) = 0;

  // Creates the file `path`, which must not exist yet, for writing. On success
  // `*fd` is open and the caller must Close() it.
  virtual Status CreateTemp(const std::string& path, int* fd) = 0;

  virtual Status Write(int fd, std::string_view data) = 0;
  virtual Status Sync(int fd) = 0;

  // Releases `fd` even when it reports a failure.
  virtual Status Close(int fd) = 0;

  // Replaces `to` by `from` in one step.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;

  // Gives the file `from` the second name `to`, which must not exist yet.
  // NotFound when `from` does not exist.
  virtual Status Link(const std::string& from, const std::string& to) = 0;

  // Makes the folder's entries (a rename, a new file) durable.
  virtual Status SyncDir(const std::string& dir) = 0;

  virtual Status Remove(const std::string& path) = 0;

  // Takes an exclusive lock on the file `path`, creating it when missing. A
  // lock held by another process is waited for a few seconds at most, then
  // Busy. The kernel releases the lock when its holder dies. On success
  // `*fd` holds the lock until UnlockFile().
  virtual Status LockFile(const std::string& path, int* fd) = 0;
  virtual Status UnlockFile(int fd) = 0;
};

// The real file system. The object is stateless and lives for the whole process.
FileOps& PosixFileOps();

// Forwards every call to `target`; tests override the calls they want to break.
class FileOpsWrapper : public FileOps {
 public:
  explicit FileOpsWrapper(FileOps& target) : target_(target) {}

  Status ReadFile(const std::string& path, std::string* contents,
                  FileIdentity* identity) override {
    return target_.ReadFile(path, contents, identity);
  }
  Status Stat(const std::string& path, FileIdentity* identity) override {
    return target_.Stat(path, identity);
  }
  Status ListDir(const std::string& dir, std::vector<std::string>* names) override {
    return target_.ListDir(dir, names);
  }
  Status CreateTemp(const std::string& path, int* fd) override {
    return target_.CreateTemp(path, fd);
  }
  Status Write(int fd, std::string_view data) override { return target_.Write(fd, data); }
  Status Sync(int fd) override { return target_.Sync(fd); }
  Status Close(int fd) override { return target_.Close(fd); }
  Status Rename(const std::string& from, const std::string& to) override {
    return target_.Rename(from, to);
  }
  Status Link(const std::string& from, const std::string& to) override {
    return target_.Link(from, to);
  }
  Status SyncDir(const std::string& dir) override { return target_.SyncDir(dir); }
  Status Remove(const std::string& path) override { return target_.Remove(path); }
  Status LockFile(const std::string& path, int* fd) override { return target_.LockFile(path, fd); }
  Status UnlockFile(int fd) override { return target_.UnlockFile(fd); }

 private:
  FileOps& target_;
};

}  // namespace cfgkit
