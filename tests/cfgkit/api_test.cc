#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "test_util.h"

namespace cfgtest {
namespace {

// Prints every status that is not kTalRegNotLoaded.
void CallBeforeLoad() {
  TalRegKey key = nullptr, bogus = reinterpret_cast<TalRegKey>(1);
  char buffer[8];
  int32_t size = sizeof buffer, n = 0;
  for (int status : {TalRegOpenKeyA(nullptr, "user", &key), TalRegCreateKeyA(nullptr, "user", &key),
                     TalRegDeleteKeyRecursiveA(nullptr, "user"), TalRegCloseKey(bogus),
                     TalRegGetStringValueA(bogus, "v", buffer, &size), TalRegGetNumKeys(bogus, &n),
                     TalRegSetStringValueA(bogus, "v", "x"), TalRegSave()}) {
    if (status != kTalRegNotLoaded) std::fprintf(stderr, "status %d\n", status);
  }
  std::exit(0);
}

// The store is process-wide, so this needs a process of its own: the threadsafe
// death-test style re-executes the binary for just this test.
TEST(ApiBeforeLoadDeathTest, EveryCallSaysNotLoaded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CallBeforeLoad(), ::testing::ExitedWithCode(0), "^$");
}

// Every call taking a handle; as a parent only when not null (null is the root).
std::vector<int> CallsWith(TalRegKey h) {
  char buffer[8];
  int32_t size = sizeof buffer, n = 0;
  TalRegKey sub = nullptr;
  std::vector<int> got = {TalRegGetStringValueA(h, "v", buffer, &size),
                          TalRegGetInt32ValueA(h, "v", &n),
                          TalRegSetStringValueA(h, "v", "x"),
                          TalRegSetInt32ValueA(h, "v", 1),
                          TalRegGetValueTypeA(h, "v", &n),
                          TalRegDeleteValueA(h, "v"),
                          TalRegGetNumKeys(h, &n),
                          TalRegGetNumValues(h, &n),
                          TalRegGetSubKeyNameA(h, 0, buffer, &size),
                          TalRegGetValueNameA(h, 0, buffer, &size)};
  if (h != nullptr) {
    got.insert(got.end(), {TalRegOpenKeyA(h, "", &sub), TalRegCreateKeyA(h, "x", &sub),
                           TalRegDeleteKeyRecursiveA(h, "x")});
  }
  return got;
}

using ApiTest = StoreTest;

TEST_F(ApiTest, BadHandlesAreRefusedOnEveryCall) {
  Put(user, "user", "<key name='A'><key name='B'/></key>");
  ASSERT_EQ(0, Load());
  TalRegKey closed = Open("user");
  ASSERT_EQ(kTalRegOk, TalRegCloseKey(closed));
  TalRegKey reused = Open("user");  // takes the closed handle's slot
  TalRegKey stale = Open("user/A"), staleChild = Open("user/A/B");
  ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, "user/A"));
  Create("user/A/B");  // a new key at the old path does not revive old handles
  const std::pair<TalRegKey, int> cases[] = {
      {nullptr, kTalRegInvalidHandle},
      {reinterpret_cast<TalRegKey>(12345), kTalRegInvalidHandle},
      {closed, kTalRegInvalidHandle},
      {stale, kTalRegStaleHandle},
      {staleChild, kTalRegStaleHandle}};
  for (auto [handle, expected] : cases) {
    for (int status : CallsWith(handle)) EXPECT_EQ(expected, status) << handle;
  }
  EXPECT_EQ(kTalRegInvalidHandle, TalRegCloseKey(closed));
  EXPECT_EQ(kTalRegInvalidHandle, TalRegCloseKey(nullptr));
  EXPECT_EQ(kTalRegOk, TalRegCloseKey(stale));  // a stale handle can still be released
  int32_t count = -1;
  EXPECT_EQ(kTalRegOk, TalRegGetNumValues(reused, &count));

  ASSERT_EQ(0, Load());  // closes every handle of the first load
  for (int i = 0; i < 4; ++i) Open("user");
  for (int status : CallsWith(reused)) EXPECT_EQ(kTalRegInvalidHandle, status);
}

TEST_F(ApiTest, BuffersReportTheNeededSize) {
  Put(user, "user",
      "<value name='Main window' type='string'>Main window</value><key name='Main window'/>");
  ASSERT_EQ(0, Load());
  TalRegKey key = Open("user");
  using Getter = std::function<int(char*, int32_t*)>;
  const std::pair<const char*, Getter> getters[] = {
      {"string",
       [&](char* b, int32_t* s) { return TalRegGetStringValueA(key, "Main window", b, s); }},
      {"subkey", [&](char* b, int32_t* s) { return TalRegGetSubKeyNameA(key, 0, b, s); }},
      {"value name", [&](char* b, int32_t* s) { return TalRegGetValueNameA(key, 0, b, s); }}};
  const int32_t needed = 12;  // "Main window" and its NUL
  for (const auto& [what, get] : getters) {
    SCOPED_TRACE(what);
    char buffer[32] = "untouched";
    const std::pair<bool, int32_t> tooSmall[] = {{false, 64}, {true, 0}, {true, needed - 1}};
    for (auto [withBuffer, size] : tooSmall) {
      EXPECT_EQ(kTalRegBufferTooSmall, get(withBuffer ? buffer : nullptr, &size));
      EXPECT_EQ(needed, size);
      EXPECT_STREQ("untouched", buffer);
    }
    int32_t exact = needed;
    EXPECT_EQ(kTalRegOk, get(buffer, &exact));
    EXPECT_STREQ("Main window", buffer);
    EXPECT_EQ(kTalRegInvalidArgument, get(buffer, nullptr));
  }
  char buffer[32];
  int32_t size = sizeof buffer;
  EXPECT_EQ(kTalRegIndexOutOfRange, TalRegGetSubKeyNameA(key, 1, buffer, &size));
  EXPECT_EQ(kTalRegIndexOutOfRange, TalRegGetValueNameA(key, -1, buffer, &size));
}

TEST_F(ApiTest, PathsSkipEmptyComponentsAndMatchExactly) {
  Put(user, "user",
      "<key name='Desktop'><value name='at' type='string'>desktop</value>"
      "<key name='Options'><value name='at' type='string'>upper</value></key>"
      "<key name='options'><value name='at' type='string'>lower</value></key></key>");
  ASSERT_EQ(0, Load());
  TalRegKey key = nullptr;
  for (const char* path : {"", "/", "\\\\", "//"}) {
    EXPECT_EQ(kTalRegInvalidArgument, TalRegOpenKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(kTalRegInvalidArgument, TalRegDeleteKeyRecursiveA(nullptr, path)) << path;
  }
  for (const char* path :
       {"user/Desktop", "user//Desktop/", "user\\Desktop", "/user\\/Desktop//"}) {
    EXPECT_EQ("desktop", Str(Open(path), "at")) << path;
  }
  TalRegKey desktop = Open("Desktop", Open("user/"));
  for (const char* empty : {"", "/"}) EXPECT_EQ("desktop", Str(Open(empty, desktop), "at"));
  EXPECT_EQ("upper", Str(Open("user/Desktop/Options"), "at"));
  EXPECT_EQ("lower", Str(Open("user/Desktop/options"), "at"));
  for (const char* path : {"user/Desktop/OPTIONS", "User", "user/Nope", "nope/Desktop"}) {
    key = reinterpret_cast<TalRegKey>(1);
    EXPECT_EQ(kTalRegKeyNotFound, TalRegOpenKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(nullptr, key);
  }
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create("a/b\\c", desktop), "at", "c"));
  EXPECT_EQ("c", Str(Open("user/Desktop/a/b/c"), "at"));
  Open("user/Desktop/a/b");
}

TEST_F(ApiTest, TypedReadsOfTheOtherTypeFailWithoutSizeStatus) {
  Put(user, "user",
      "<value name='max' type='int'>4294967295</value><value name='min' type='int'> -2147483648 "
      "</value><value name='s' type='string'>12</value>");
  ASSERT_EQ(0, Load());
  TalRegKey key = Open("user");
  int32_t n = 0, type = 0, size = 0;
  for (int status :
       {TalRegGetStringValueA(key, "max", nullptr, &size), TalRegGetInt32ValueA(key, "s", &n)}) {
    EXPECT_NE(kTalRegOk, status);
    EXPECT_NE(kTalRegBufferTooSmall, status);  // a precedence search must go on
  }
  const std::tuple<const char*, int32_t, int32_t> expected[] = {
      {"max", kTalRegTypeInt32, -1},
      {"min", kTalRegTypeInt32, INT32_MIN},
      {"s", kTalRegTypeString, 0}};
  for (auto [name, expectedType, expectedNumber] : expected) {
    EXPECT_EQ(kTalRegOk, TalRegGetValueTypeA(key, name, &type));
    EXPECT_EQ(expectedType, type) << name;
    if (expectedType == kTalRegTypeInt32) {
      EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(key, name, &n));
      EXPECT_EQ(expectedNumber, n) << name;
    }
  }
  EXPECT_NE(kTalRegOk, TalRegGetValueTypeA(key, "missing", &type));
  EXPECT_NE(kTalRegOk, TalRegGetInt32ValueA(key, "missing", &n));
  EXPECT_EQ("<status " + std::to_string(kTalRegValueNotFound) + ">", Str(key, nullptr));
  ASSERT_EQ(kTalRegOk, TalRegSetInt32ValueA(key, "s", 5));  // replaces the string
  EXPECT_EQ(kTalRegOk, TalRegGetValueTypeA(key, "s", &type));
  EXPECT_EQ(kTalRegTypeInt32, type);
}

TEST_F(ApiTest, LoadPrefersHomeFoldersAndSkipsWhatIsNotAStoreFile) {
  for (const char* key : {"user", "host_user", "default"}) {
    Put(admin, key, "<value name='from' type='string'>admin</value>");
    Put(user, key, "<value name='from' type='string'>user</value>");
  }
  for (const char* name : {".x.XML", "a.xml", "a.XML.bak", "noext", ".XML"}) {
    WriteBytes(user + "/" + name, StoreFile("a", ""));
  }
  ASSERT_EQ(0, Load());
  EXPECT_EQ("user", Str(Open("user"), "from"));
  EXPECT_EQ("user", Str(Open("host_user"), "from"));
  EXPECT_EQ("admin", Str(Open("default"), "from"));
  for (const char* path : {"a", ".x", "a.xml", "noext"}) EXPECT_NE(kTalRegOk, OpenStatus(path));
  EXPECT_TRUE(logs().empty()) << logs().front().second;

  // One folder under two spellings, a missing folder, and one that cannot be listed.
  const std::string missing = root + "/missing", notDir = root + "/file";
  WriteBytes(notDir, "x");
  const std::tuple<std::string, std::string, int, std::string> loads[] = {
      {user, user + "//", kTalRegOk, "user"},
      {std::string(user).replace(user.rfind('/'), 1, "\\"), user, kTalRegOk, "user"},
      {missing, user, kTalRegOk, "user"},
      {missing, missing, kTalRegOk, "<status -7>"},
      {notDir, user, kTalRegIoError, "user"}};
  for (const auto& [adminDir, userDir, status, from] : loads) {
    EXPECT_EQ(status, _LoadPathsA(adminDir.c_str(), userDir.c_str())) << adminDir;
    TalRegKey key = nullptr;
    int opened = TalRegOpenKeyA(nullptr, "user", &key);
    EXPECT_EQ(from,
              opened == kTalRegOk ? Str(key, "from") : "<status " + std::to_string(opened) + ">");
  }
}

}  // namespace
}  // namespace cfgtest
