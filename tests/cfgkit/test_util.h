// Shared helpers: a temporary store per test, file helpers, the store's log.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cfgkit/cfgkit.h"
#include "support/faulty_file_ops.h"
#include "support/files.h"

namespace cfgtest {

using testsupport::FaultyFileOps;
using testsupport::Leftovers;
using testsupport::ListNames;
using testsupport::ReadFile;
using testsupport::StoreFile;
using testsupport::WriteFile;

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Replaces the first `from` in the file by `to`.
inline void ReplaceIn(const std::string& path, const std::string& from, const std::string& to) {
  std::string bytes = ReadFile(path);
  WriteFile(path, bytes.replace(bytes.find(from), from.size(), to));
}

// The permission bits; all ones when there is no such file.
inline uint32_t ModeOf(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : ~0u;
}

// What the store logged, as level and line.
inline std::vector<std::pair<int, std::string>> logs;

// Fresh admin and user folders per test; the process-wide store is reset in TearDown.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(admin), std::filesystem::create_directory(user);
    logs.clear();
    static const cfgkit::StoreOptions noImages;
    TalRegSetStoreOptions(&noImages);
    TalRegSetLogSink([](int level, const char* line) { logs.emplace_back(level, line); });
  }
  void TearDown() override {
    TalRegUseFileOps(nullptr);
    TalRegSetStoreOptions(nullptr);
    TalRegSetLogSink(nullptr);
  }

  static constexpr auto Put = &testsupport::WriteStoreFile;
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

  testsupport::TempDir temp;
  std::string root = temp.path, admin = root + "/admin", user = root + "/user";
};

}  // namespace cfgtest
