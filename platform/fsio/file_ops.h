// Every disk access of the platform goes through FileOps, so tests can make
// any single step fail (a full disk, a folder that cannot be written, a file
// system without hard links) and check that nothing was damaged. Paths use '/'
// separators.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fsio/status.h"

namespace fsio {

// What tells one version of a file from another: a file replaced by a rename
// has a new inode, one edited in place a new size or change time. The owner
// and mode are what a replacement must keep.
struct FileIdentity {
  enum class Kind : uint8_t { kMissing, kRegular, kDirectory, kSymlink, kOther };

  bool exists = false;
  Kind kind = Kind::kMissing;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  uint32_t mode = 0;  // permission bits
  uint32_t owner = 0;
  uint32_t group = 0;

  bool operator==(const FileIdentity&) const = default;
};

// The most a store file or a document may hold: a larger one is damage
// (Corruption), told before it is read.
inline constexpr size_t kMaxReadSize = size_t{256} << 20;

class FileOps {
 public:
  virtual ~FileOps() = default;

  // The whole content of the file at `path`, and when `identity` is not null
  // the identity of the very file that was read. NotFound when it does not
  // exist, Corruption when it holds more than kMaxReadSize bytes, IOError
  // when its content does not fit in memory.
  virtual Status ReadFile(const std::string& path, std::string* contents,
                          FileIdentity* identity) = 0;

  // Everything left to read from `fd`, a pipe or terminal too, bounded as
  // ReadFile is; `name` is what an error message calls it.
  virtual Status ReadStream(int fd, const std::string& name, std::string* contents) = 0;

  // The identity of the file at `path` (of a symbolic link itself when
  // `followLinks` is false); `exists` false (and OK) when there is none.
  virtual Status Stat(const std::string& path, FileIdentity* identity, bool followLinks = true) = 0;

  // The names of the entries of `dir`, without "." and "..", in no particular
  // order. NotFound when the folder does not exist.
  virtual Status ListDir(const std::string& dir, std::vector<std::string>* names) = 0;

  // Creates the folder `dir` with `mode` (less the umask); OK when it exists.
  virtual Status MakeDir(const std::string& dir, uint32_t mode) = 0;

  // The target a symbolic link names, as it is written in the link.
  virtual Status ReadLink(const std::string& path, std::string* target) = 0;

  // Creates the file `path`, which must not exist yet (a symbolic link there
  // is not followed), for writing and readable by this user alone (0600), so
  // that nobody can read it before it gets the access of the file it is to
  // replace. On success `*fd` is open and the caller must Close() it.
  virtual Status CreateTemp(const std::string& path, int* fd) = 0;

  // Opens the existing regular file `path` without following a symbolic link
  // and without blocking on a FIFO, for reading, or for writing in place when
  // `writable`; `*identity` is the opened file's. NotSupported for anything
  // but a regular file.
  virtual Status OpenExisting(const std::string& path, bool writable, int* fd,
                              FileIdentity* identity) = 0;

  // The access a replacement keeps: the file's owner and group, its
  // permission bits, and its access control list (the bytes of its POSIX
  // access ACL, or with `folderDefault` of the default ACL a folder gives new
  // files; empty when there is none). Writing an empty ACL removes the file's.
  // NotSupported from a file system that stores no owners, modes or ACLs.
  virtual Status ChangeOwner(int fd, uint32_t owner, uint32_t group) = 0;
  virtual Status ChangeMode(int fd, uint32_t mode) = 0;
  virtual Status ReadAcl(const std::string& path, bool folderDefault, std::string* acl) = 0;
  virtual Status WriteAcl(int fd, std::string_view acl) = 0;
  // The permission bits that a new file does not get.
  virtual uint32_t Umask() = 0;

  virtual Status Write(int fd, std::string_view data) = 0;
  // Sets the open file's modification time, in ns since the epoch.
  virtual Status SetModifiedTime(int fd, int64_t ns) = 0;
  // Reads `size` bytes at `offset`; IOError when the file is shorter.
  virtual Status ReadAt(int fd, uint64_t offset, char* buffer, size_t size) = 0;
  virtual Status WriteAt(int fd, uint64_t offset, std::string_view data) = 0;

  // Maps the first `size` bytes of the open file read-only while holding a
  // read lease on it, so that nobody can write or truncate the file while it
  // is mapped (writers wait until `fd` is closed); a mapping can then never
  // fault. NotSupported where the file cannot be leased (a network file
  // system, a writer has it open, leases are off). Unmap() before closing `fd`.
  virtual Status MapUnchanging(int fd, size_t size, const char** data) = 0;
  // Maps in every page of a mapping at once, for a caller that will read most
  // of it, rather than one fault at a time (best effort).
  virtual void MapInWhole(const char* data, size_t size) = 0;
  virtual void Unmap(const char* data, size_t size) = 0;
  virtual Status Sync(int fd) = 0;

  // Releases `fd` even when it reports a failure.
  virtual Status Close(int fd) = 0;

  // Replaces `to` by `from` in one step.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;

  // Whether this user may create, replace or remove the file `path` by a
  // rename in its folder, creating the folders on its way that are missing:
  // the nearest existing folder must be writable, and a file already there
  // neither immutable, append-only, nor another user's in a sticky folder.
  // Changes nothing; what only the write meets (a full disk) it cannot tell.
  virtual Status MayReplace(const std::string& path) = 0;

  // Gives the file `from` the second name `to`, which must not exist yet.
  // NotFound when `from` does not exist; NotSupported where the file system
  // has no hard links.
  virtual Status Link(const std::string& from, const std::string& to) = 0;

  // Makes the folder's entries (a rename, a new file) durable. NotSupported
  // where the file system cannot flush a folder.
  virtual Status SyncDir(const std::string& dir) = 0;

  virtual Status Remove(const std::string& path) = 0;

  // Whether files in `dir` get fine and reliable change times, so that an
  // unchanged identity means unchanged bytes: false on FAT and network file
  // systems, and when it cannot be told.
  virtual bool HasReliableTimes(const std::string& dir) = 0;

  // Takes an exclusive write lock on the file `path` through a descriptor open
  // for writing, so a user who may only read the file cannot hold off the
  // others. A missing lock file is created as writable as its folder, and
  // readable by no one else; one left less so is corrected when this user
  // owns it. A lock held by another process is waited for a few seconds at
  // most, then Busy. The kernel releases the lock when its holder dies. On
  // success `*fd` holds the lock until UnlockFile().
  virtual Status LockFile(const std::string& path, int* fd) = 0;
  virtual Status UnlockFile(int fd) = 0;
};

// The real file system. The object is stateless and lives for the whole process.
FileOps& PosixFileOps();

// Forwards every call to `target`; tests override the calls they want to break.
class FileOpsWrapper : public FileOps {
 public:
  explicit FileOpsWrapper(FileOps& target) : target_(target) {}

  Status ReadFile(const std::string& path, std::string* contents, FileIdentity* identity) override {
    return target_.ReadFile(path, contents, identity);
  }
  Status ReadStream(int fd, const std::string& name, std::string* contents) override {
    return target_.ReadStream(fd, name, contents);
  }
  Status Stat(const std::string& path, FileIdentity* identity, bool followLinks) override {
    return target_.Stat(path, identity, followLinks);
  }
  Status ListDir(const std::string& dir, std::vector<std::string>* names) override {
    return target_.ListDir(dir, names);
  }
  Status MakeDir(const std::string& dir, uint32_t mode) override {
    return target_.MakeDir(dir, mode);
  }
  Status ReadLink(const std::string& path, std::string* target) override {
    return target_.ReadLink(path, target);
  }
  Status CreateTemp(const std::string& path, int* fd) override {
    return target_.CreateTemp(path, fd);
  }
  Status OpenExisting(const std::string& path, bool writable, int* fd,
                      FileIdentity* identity) override {
    return target_.OpenExisting(path, writable, fd, identity);
  }
  Status ChangeOwner(int fd, uint32_t owner, uint32_t group) override {
    return target_.ChangeOwner(fd, owner, group);
  }
  Status ChangeMode(int fd, uint32_t mode) override { return target_.ChangeMode(fd, mode); }
  Status ReadAcl(const std::string& path, bool folderDefault, std::string* acl) override {
    return target_.ReadAcl(path, folderDefault, acl);
  }
  Status WriteAcl(int fd, std::string_view acl) override { return target_.WriteAcl(fd, acl); }
  uint32_t Umask() override { return target_.Umask(); }
  Status Write(int fd, std::string_view data) override { return target_.Write(fd, data); }
  Status SetModifiedTime(int fd, int64_t ns) override { return target_.SetModifiedTime(fd, ns); }
  Status ReadAt(int fd, uint64_t offset, char* buffer, size_t size) override {
    return target_.ReadAt(fd, offset, buffer, size);
  }
  Status WriteAt(int fd, uint64_t offset, std::string_view data) override {
    return target_.WriteAt(fd, offset, data);
  }
  Status MapUnchanging(int fd, size_t size, const char** data) override {
    return target_.MapUnchanging(fd, size, data);
  }
  void MapInWhole(const char* data, size_t size) override { target_.MapInWhole(data, size); }
  void Unmap(const char* data, size_t size) override { target_.Unmap(data, size); }
  Status Sync(int fd) override { return target_.Sync(fd); }
  Status Close(int fd) override { return target_.Close(fd); }
  Status Rename(const std::string& from, const std::string& to) override {
    return target_.Rename(from, to);
  }
  Status MayReplace(const std::string& path) override { return target_.MayReplace(path); }
  Status Link(const std::string& from, const std::string& to) override {
    return target_.Link(from, to);
  }
  Status SyncDir(const std::string& dir) override { return target_.SyncDir(dir); }
  Status Remove(const std::string& path) override { return target_.Remove(path); }
  bool HasReliableTimes(const std::string& dir) override { return target_.HasReliableTimes(dir); }
  Status LockFile(const std::string& path, int* fd) override { return target_.LockFile(path, fd); }
  Status UnlockFile(int fd) override { return target_.UnlockFile(fd); }

 private:
  FileOps& target_;
};

// Closes a descriptor that FileOps opened, on every path.
class FdGuard {
 public:
  FdGuard(FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  ~FdGuard() {
    if (fd_ >= 0) ops_.Close(fd_).IgnoreError();
  }
  // Closes now, for a caller that must know whether the close succeeded.
  Status Close() {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? ops_.Close(fd) : Status::OK();
  }

 private:
  FileOps& ops_;
  int fd_;
};

}  // namespace fsio
