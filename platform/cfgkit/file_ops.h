// Every disk access of the store goes through FileOps, so tests can make any
// single step fail (a full disk, a folder that cannot be written) and check
// that nothing was damaged. Paths use '/' separators.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cfgkit/status.h"

namespace cfgkit {

class FileOps {
 public:
  virtual ~FileOps() = default;

  // The whole content of the file at `path`. NotFound when it does not exist.
  virtual Status ReadFile(const std::string& path, std::string* contents) = 0;

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
};

// The real file system. The object is stateless and lives for the whole process.
FileOps& PosixFileOps();

// Forwards every call to `target`; tests override the calls they want to break.
class FileOpsWrapper : public FileOps {
 public:
  explicit FileOpsWrapper(FileOps& target) : target_(target) {}

  Status ReadFile(const std::string& path, std::string* contents) override {
    return target_.ReadFile(path, contents);
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

 private:
  FileOps& target_;
};

}  // namespace cfgkit
