// Shared helpers: a temporary store per test, file helpers, a file system that
// fails on demand, and a capture of the store's log.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cfgkit/cfgkit.h"

namespace cfgtest {

inline std::string ReadBytes(const std::string& path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> ListNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* handle = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(handle)) names.emplace_back(entry->d_name);
    ::closedir(handle);
  }
  // The lock file stays for good; everything else a save leaves is a fault.
  std::erase_if(names, [](const std::string& name) {
    return name == "." || name == ".." || name == ".cfgkit.lock";
  });
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string StoreFile(const std::string& name, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<key name=\"" + name + "\">" + body +
         "</key>\n";
}

// Fails the n-th mutating call (from 1) as a full disk would; 0 fails none.
class FaultyFileOps : public cfgkit::FileOpsWrapper {
 public:
  explicit FaultyFileOps(int failAt) : FileOpsWrapper(cfgkit::PosixFileOps()), failAt_(failAt) {}

  void Stop() { failAt_ = 0; }
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
    Status closed = FileOpsWrapper::Close(fd);  // releases the descriptor either way
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
    if (++calls_ != failAt_) return false;
    failed_ = call;
    return true;
  }
  static Status Error() { return Status::IOError("No space left on device"); }

  int failAt_, calls_ = 0;
  std::string failed_;
};

// Fresh admin and user folders per test; the process-wide store is reset in TearDown.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cfgkit_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern, admin = root + "/admin", user = root + "/user";
    ::mkdir(admin.c_str(), 0755);
    ::mkdir(user.c_str(), 0755);
    logs().clear();
    TalRegSetLogSink([](int level, const char* line) { logs().emplace_back(level, line); });
  }

  void TearDown() override {
    TalRegUseFileOps(nullptr);
    TalRegSetLogSink(nullptr);
    ::nftw(
        root.c_str(),
        [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }

  void Put(const std::string& dir, const std::string& key, const std::string& body) {
    WriteBytes(dir + "/" + key + ".XML", StoreFile(key, body));
  }
  int Load() { return _LoadPathsA(admin.c_str(), user.c_str()); }

  static TalRegKey Open(const char* path, TalRegKey parent = nullptr) {
    TalRegKey key = nullptr;
    EXPECT_EQ(kTalRegOk, TalRegOpenKeyA(parent, path, &key)) << path;
    return key;
  }
  static TalRegKey Create(const char* path, TalRegKey parent = nullptr) {
    TalRegKey key = nullptr;
    EXPECT_EQ(kTalRegOk, TalRegCreateKeyA(parent, path, &key)) << path;
    return key;
  }
  static int OpenStatus(const char* path) {
    TalRegKey key = nullptr;
    return TalRegOpenKeyA(nullptr, path, &key);
  }

  // The string value, or "<status N>" when it cannot be read.
  static std::string Str(TalRegKey key, const char* name) {
    int32_t size = 0;
    int status = TalRegGetStringValueA(key, name, nullptr, &size);
    std::string text(status == kTalRegBufferTooSmall ? size : 0, '\0');
    if (status == kTalRegBufferTooSmall)
      status = TalRegGetStringValueA(key, name, text.data(), &size);
    if (status != kTalRegOk) return "<status " + std::to_string(status) + ">";
    text.pop_back();
    return text;
  }

  static std::vector<std::pair<int, std::string>>& logs() {
    static std::vector<std::pair<int, std::string>> lines;
    return lines;
  }

  std::string root, admin, user;
};

}  // namespace cfgtest
