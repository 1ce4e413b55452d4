#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "test_util.h"

namespace cfgtest {
namespace {

// Every call taking a handle; as a parent only when not null (null is the root).
std::vector<int> CallsWith(TalRegKey h) {
  char buffer[8];
  int32_t size = sizeof buffer, n = 0;
  TalRegKey sub = nullptr;
  // clang-format off
  std::vector<int> got = {
      TalRegGetStringValueA(h, "v", buffer, &size), TalRegGetInt32ValueA(h, "v", &n),
      TalRegSetStringValueA(h, "v", "x"), TalRegSetInt32ValueA(h, "v", 1),
      TalRegGetValueTypeA(h, "v", &n), TalRegDeleteValueA(h, "v"), TalRegGetNumKeys(h, &n),
      TalRegGetNumValues(h, &n), TalRegGetSubKeyNameA(h, 0, buffer, &size),
      TalRegGetValueNameA(h, 0, buffer, &size)};
  // clang-format on
  if (h != nullptr) {
    got.insert(got.end(), {TalRegOpenKeyA(h, "", &sub), TalRegCreateKeyA(h, "x", &sub),
                           TalRegDeleteKeyRecursiveA(h, "x")});
  }
  return got;
}

// The store is process-wide: "threadsafe" runs this in a fresh process.
TEST(ApiBeforeLoadDeathTest, EveryCallSaysNotLoaded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto callAll = [] {
    TalRegKey key = nullptr;
    std::vector<int> got = CallsWith(reinterpret_cast<TalRegKey>(1));
    got.insert(got.end(),
               {TalRegOpenKeyA(nullptr, "user", &key), TalRegCloseKey(key), TalRegSave()});
    for (int status : got)
      if (status != kTalRegNotLoaded) std::fprintf(stderr, "status %d\n", status);
    std::exit(0);
  };
  EXPECT_EXIT(callAll(), ::testing::ExitedWithCode(0), "^$");
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
  for (TalRegKey handle : {TalRegKey{}, reinterpret_cast<TalRegKey>(12345), closed})
    for (int status : CallsWith(handle)) EXPECT_EQ(kTalRegInvalidHandle, status) << handle;
  for (TalRegKey handle : {stale, staleChild})
    for (int status : CallsWith(handle)) EXPECT_EQ(kTalRegStaleHandle, status) << handle;
  EXPECT_EQ(kTalRegInvalidHandle, TalRegCloseKey(closed));
  EXPECT_EQ(kTalRegInvalidHandle, TalRegCloseKey(nullptr));
  EXPECT_EQ(kTalRegOk, TalRegCloseKey(stale));  // a stale handle can still be released
  EXPECT_EQ("<status " + std::to_string(kTalRegValueNotFound) + ">", Str(reused, "v"));

  ASSERT_EQ(0, Load());  // closes every handle of the first load
  for (int i = 0; i < 4; ++i) Open("user");
  for (int status : CallsWith(reused)) EXPECT_EQ(kTalRegInvalidHandle, status);
}

TEST_F(ApiTest, ReadsReportTheNeededSizeAndTheType) {
  Put(user, "user",
      "<value name='Main window' type='string'>Main window</value><key name='Main window'/>"
      "<value name='max' type='int'>4294967295</value><value name='min' type='int'> -2147483648 "
      "</value><value name='s' type='string'>12</value>");
  ASSERT_EQ(0, Load());
  TalRegKey key = Open("user");
  using Getter = std::function<int(char*, int32_t*)>;
  const Getter getters[] = {
      [&](char* b, int32_t* s) { return TalRegGetStringValueA(key, "Main window", b, s); },
      [&](char* b, int32_t* s) { return TalRegGetSubKeyNameA(key, 0, b, s); },
      [&](char* b, int32_t* s) { return TalRegGetValueNameA(key, 0, b, s); }};
  const int32_t needed = 12;  // "Main window" and its NUL
  for (const Getter& get : getters) {
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
  // Typed reads of the other type fail without a size status: a precedence search must go on.
  int32_t n = 0, type = 0;
  for (int status :
       {TalRegGetStringValueA(key, "max", nullptr, &size), TalRegGetInt32ValueA(key, "s", &n)}) {
    EXPECT_NE(kTalRegOk, status);
    EXPECT_NE(kTalRegBufferTooSmall, status);
  }
  for (auto [name, expected] : {std::pair{"max", -1}, std::pair{"min", INT32_MIN}}) {
    EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(key, name, &n));
    EXPECT_EQ(expected, n) << name;
  }
  ASSERT_EQ(kTalRegOk, TalRegSetInt32ValueA(key, "s", 5));  // replaces the string
  EXPECT_EQ(kTalRegOk, TalRegGetValueTypeA(key, "s", &type));
  EXPECT_EQ(kTalRegTypeInt32, type);
}

TEST_F(ApiTest, PathsSkipEmptyComponentsAndMatchExactly) {
  Put(user, "user",
      "<key name='Desktop'><value name='at' type='string'>desktop</value>"
      "<key name='Options'><value name='at' type='string'>upper</value></key>"
      "<key name='options'><value name='at' type='string'>lower</value></key></key>");
  ASSERT_EQ(0, Load());
  TalRegKey key = nullptr;
  for (const char* path : {"", "/\\/"}) {
    EXPECT_EQ(kTalRegInvalidArgument, TalRegOpenKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(kTalRegInvalidArgument, TalRegDeleteKeyRecursiveA(nullptr, path)) << path;
  }
  for (const char* path : {"user\\Desktop", "/user\\/Desktop//"})
    EXPECT_EQ("desktop", Str(Open(path), "at")) << path;
  TalRegKey desktop = Open("Desktop", Open("user/"));
  for (const char* empty : {"", "/"}) EXPECT_EQ("desktop", Str(Open(empty, desktop), "at"));
  EXPECT_EQ("upper", Str(Open("user/Desktop/Options"), "at"));
  EXPECT_EQ("lower", Str(Open("user/Desktop/options"), "at"));
  for (const char* path : {"user/Desktop/OPTIONS", "User", "nope/Desktop"}) {
    key = reinterpret_cast<TalRegKey>(1);
    EXPECT_EQ(kTalRegKeyNotFound, TalRegOpenKeyA(nullptr, path, &key)) << path;
    EXPECT_EQ(nullptr, key);
  }
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create("a/b\\c", desktop), "at", "c"));
  EXPECT_EQ("c", Str(Open("user/Desktop/a/b/c"), "at"));
  // Files beginning with '.' are not loaded, and names have a length limit.
  EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, ".hidden/sub", &key));
  EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, std::string(201, 'k').c_str(), &key));
}

// Many names at once answer as each name looked up alone: in each key its
// value of that name, type 0 where a key lacks it or is no key.
TEST_F(ApiTest, FindingManyNamesAnswersAsFindingEachAlone) {
  Put(user, "user",
      "<value name='a' type='int'>1</value><value name='b' type='string'>x</value>"
      "<value name='' type='string'>unnamed</value>"
      "<key name='K'><value name='c' type='string'>k</value><value name='b' type='int'>2</value>"
      "</key>");
  ASSERT_EQ(0, Load());
  const TalRegKey keys[] = {Open("user"), nullptr, Open("user/K")};
  const std::vector<std::vector<std::string_view>> nameLists = {
      {"a", "b", "c", "zz", ""}, {"b", "c", "b"}, {"A", "a"}, {"c"}};
  for (const auto& names : nameLists) {
    std::vector<TalRegValueView> together(names.size() * 3);
    ASSERT_EQ(kTalRegOk, TalRegFindValuesA(keys, 3, names.data(), names.size(), together.data()));
    for (size_t n = 0; n < names.size(); ++n) {
      TalRegValueView alone[3];
      ASSERT_EQ(kTalRegOk, TalRegFindValuesA(keys, 3, &names[n], 1, alone));
      for (size_t k = 0; k < 3; ++k) {
        const TalRegValueView& got = together[n * 3 + k];
        EXPECT_EQ(std::tie(alone[k].name, alone[k].type, alone[k].text, alone[k].number),
                  std::tie(got.name, got.type, got.text, got.number))
            << "'" << names[n] << "' in key " << k;
      }
    }
  }
  const std::string_view name = "a";
  TalRegValueView a[3];
  ASSERT_EQ(kTalRegOk, TalRegFindValuesA(keys, 3, &name, 1, a));
  EXPECT_EQ(std::tuple(kTalRegTypeInt32, 1, 0), std::tuple(a[0].type, a[0].number, a[2].type));
}

TEST_F(ApiTest, LoadPrefersHomeFoldersAndSkipsWhatIsNotAStoreFile) {
  for (const char* key : {"user", "host_user", "default"}) {
    Put(admin, key, "<value name='from' type='string'>admin</value>");
    Put(user, key, "<value name='from' type='string'>user</value>");
  }
  for (const char* name : {".x.XML", "a.xml", "a.XML.bak", ".XML"})
    WriteFile(user + "/" + name, StoreFile("a", ""));
  ASSERT_EQ(0, Load());
  const std::pair<const char*, const char*> homes[] = {
      {"user", "user"}, {"host_user", "user"}, {"default", "admin"}};
  for (auto [key, from] : homes) EXPECT_EQ(from, Str(Open(key), "from")) << key;
  for (const char* path : {"a", ".x", "a.xml"}) EXPECT_NE(kTalRegOk, OpenStatus(path));
  EXPECT_TRUE(logs.empty()) << logs.front().second;

  // One folder under two spellings, and a missing folder.
  const std::string missing = root + "/missing";
  const std::tuple<std::string, std::string, int, std::string> loads[] = {
      {std::string(user).replace(user.rfind('/'), 1, "\\"), user + "//", kTalRegOk, "user"},
      {missing, missing, kTalRegOk, "<status -7>"}};
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
