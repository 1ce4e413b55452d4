// A throw-away installation and home folder per test, store files written as
// XML, and the debug log captured in a file. The store loads once per process,
// so SetUp fails a second test in one process (ctest runs one per process).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/files.h"
#include "registry/morix_registry_impl.h"
#include "vxcore/tal_debug.h"

namespace regtest {

using testsupport::Int;
using testsupport::Key;
using testsupport::ReadFile;
using testsupport::Str;

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }
inline std::string A(const AString& text) { return text.ASCII(); }

struct TestClient : IMorixRegistryClient {
  bool SetClientFlag(bool) override { return true; }
  AString GetInstallDirOverride() override { return installDir; }
  AString GetVersionedProductName() override { return L"Product12.1"; }
  AString GetDesktopProductName() override { return AString(); }
  AString installDir;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int testsInThisProcess = 0;
    ASSERT_EQ(++testsInThisProcess, 1) << "one test per process: run the suite through ctest";
    char pattern[] = "/tmp/registry_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern, admin = root + "/inst/config", home = root + "/home";
    std::filesystem::create_directories(admin);
    host = A(MorixRegistryImpl::GetHostName());
    client.installDir = AString((root + "/inst").c_str());
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("TALVEN_FORCE_REGISTRY_WRITES");
    SetLogLevel(5);
  }

  void TearDown() override {
    ::unsetenv("TALVEN_DEBUG_FILE");
    my_tal_debug_data.ReloadFromEnvironment();  // closes the log file
    if (!root.empty()) std::filesystem::remove_all(root);
  }

  void SetLogLevel(int level) {
    ::setenv("TALVEN_DEBUG_LEVEL", std::to_string(level).c_str(), 1);
    ::setenv("TALVEN_DEBUG_FILE", (root + "/log").c_str(), 1);
    my_tal_debug_data.ReloadFromEnvironment();
  }

  std::string UserDir() const { return home + "/Documents/Talven/Product12.1/config"; }
  std::string UserMachineFile() const { return UserDir() + "/" + host + "_user.XML"; }

  void Put(const std::string& dir, const std::string& key, const std::string& body) {
    testsupport::WriteStoreFile(dir, key, body);
  }
  void PutAdmin(const std::string& body) { Put(admin, "admin", body); }
  void PutInstall(const std::string& body) { Put(admin, "default", body); }
  void PutUser(const std::string& body) { Put(UserDir(), "user", body); }
  void PutUserMachine(const std::string& body) { Put(UserDir(), host + "_user", body); }

  std::string KeyFields() const {
    return A(reg.adminKey + L"|" + reg.installKey + L"|" + reg.installMachineKey + L"|" +
             reg.syntaxKey);
  }
  std::string Log() const { return ReadFile(root + "/log"); }
  // `text` was logged from the start of a line.
  ::testing::AssertionResult Logged(const std::string& text) const {
    const std::string log = Log();
    if (("\n" + log).find("\n" + text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not logged: " << text << "\nlog:\n" << log;
  }

  std::string root, admin, home, host;
  TestClient client;
  MorixRegistryImpl reg{&client};
};

}  // namespace regtest
