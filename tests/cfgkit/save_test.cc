#include <fcntl.h>
#include <sys/stat.h>

#include <tuple>

#include "cfgkit/store.h"
#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::Value;
using cfgkit::ValueType;
using Names = std::vector<std::string>;
using SaveTest = StoreTest;

constexpr time_t kOldTime = 1000000000;

void SetOldTime(const std::string& path) {
  const timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0)) << path;
}

time_t ModifiedAt(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mtim.tv_sec;
}

void ExpectNoTempFiles(const Names& dirs) {
  for (const std::string& dir : dirs) {
    for (const std::string& name : ListNames(dir)) EXPECT_NE('.', name[0]) << dir << "/" << name;
  }
}

TEST_F(SaveTest, OnlyChangedFilesAreRewritten) {
  Put(admin, "a", "<key name='deep'><value name='v' type='string'>1</value></key>");
  Put(admin, "b", "<!-- hand edited --><value name='v' type='string'>1</value>");
  Put(user, "user", "<key name='k'/>");
  const Names paths = {admin + "/a.XML", admin + "/b.XML", user + "/user.XML"};
  Names before;
  for (const std::string& path : paths) before.push_back(ReadBytes(path)), SetOldTime(path);
  ASSERT_EQ(0, Load());
  Create("b");  // creating an existing key changes nothing
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a/deep"), "v", "2"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_NE(before[0], ReadBytes(paths[0]));
  for (size_t i = 1; i < paths.size(); ++i) {
    EXPECT_EQ(before[i], ReadBytes(paths[i])) << paths[i];
    EXPECT_EQ(kOldTime, ModifiedAt(paths[i])) << paths[i];
  }
  SetOldTime(paths[0]);
  ASSERT_EQ(kTalRegOk, TalRegSave());  // what was saved is not written again
  EXPECT_EQ(kOldTime, ModifiedAt(paths[0]));
  EXPECT_EQ((Names{"a.XML", "b.XML"}), ListNames(admin));
}

TEST_F(SaveTest, NewTopLevelKeysLandInTheirHomeFolder) {
  Put(admin, "user", "<value name='from' type='string'>admin copy</value>");
  const std::string adminCopy = ReadBytes(admin + "/user.XML");
  ASSERT_EQ(0, Load());
  const char* keys[] = {"user", "x_user", "newkey", "user_x"};
  for (const char* key : keys) ASSERT_EQ(kTalRegOk, TalRegSetInt32ValueA(Create(key), "n", 1));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{"newkey.XML", "user.XML", "user_x.XML"}), ListNames(admin));
  EXPECT_EQ((Names{"user.XML", "x_user.XML"}), ListNames(user));
  EXPECT_EQ(adminCopy, ReadBytes(admin + "/user.XML"));  // outside its home folder: never written
  ASSERT_EQ(0, Load());
  int32_t n = 0;
  for (const char* key : keys)
    EXPECT_EQ(kTalRegOk, TalRegGetInt32ValueA(Open(key), "n", &n)) << key;
}

TEST_F(SaveTest, DeletingATopLevelKeyRemovesItsFile) {
  for (const char* key : {"a", "b", "r"}) Put(admin, key, "<key name='old'/>");
  Put(admin, "moved_user", "");  // its only copy lies outside its home folder
  ASSERT_EQ(0, Load());
  for (const char* key : {"a", "b/old", "r", "moved_user"}) {
    ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, key)) << key;
  }
  Create("r/new");
  Create("never_saved");
  ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, "never_saved"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{"b.XML", "r.XML"}), ListNames(admin));
  EXPECT_EQ(Names{}, ListNames(user));
  ASSERT_EQ(0, Load());
  for (const char* key : {"a", "b/old", "r/old", "moved_user", "never_saved"}) {
    EXPECT_EQ(kTalRegKeyNotFound, OpenStatus(key)) << key;
  }
  Open("r/new");
}

TEST_F(SaveTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
  const std::string missing = root + "/missing";
  ASSERT_EQ(0, _LoadPathsA(missing.c_str(), user.c_str()));
  Create("x_user");
  Create("newkey");
  EXPECT_NE(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{"admin", "user"}), ListNames(root));
  EXPECT_EQ(Names{}, ListNames(user));
}

// Fails each mutating file operation of a two-file save in turn.
TEST_F(SaveTest, EveryFailedStepLeavesTheOldFiles) {
  Put(admin, "a", "<value name='v' type='string'>old</value>");
  Put(user, "user", "<value name='v' type='string'>old</value>");
  const Names paths = {admin + "/a.XML", user + "/user.XML"};
  const Names old = {ReadBytes(paths[0]), ReadBytes(paths[1])};
  bool succeeded = false;
  for (int step = 1; step < 50 && !succeeded; ++step) {
    for (size_t i = 0; i < paths.size(); ++i) WriteBytes(paths[i], old[i]);
    FaultyFileOps ops(step);
    TalRegUseFileOps(&ops);
    ASSERT_EQ(0, Load());
    for (const char* key : {"a", "user"})
      ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open(key), "v", "new"));
    const int status = TalRegSave();
    SCOPED_TRACE("step " + std::to_string(step) + " failing " + ops.failed());
    succeeded = ops.failed().empty();
    if (!succeeded) {
      EXPECT_NE(kTalRegOk, status);
      for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(old[i], ReadBytes(paths[i])) << paths[i];
      }
      ExpectNoTempFiles({admin, user});
      ops.Stop();
    }
    EXPECT_EQ(kTalRegOk, TalRegSave());  // what failed is still pending
    ExpectNoTempFiles({admin, user});
    ASSERT_EQ(0, Load());
    for (const char* key : {"a", "user"}) EXPECT_EQ("new", Str(Open(key), "v")) << key;
  }
  EXPECT_TRUE(succeeded);
}

TEST_F(SaveTest, PendingChangesListEditsInOrderUntilSaved) {
  Put(user, "user", "<value name='gone' type='int'>1</value>");
  cfgkit::Store store(cfgkit::PosixFileOps(), nullptr);
  ASSERT_TRUE(store.Load(admin, user).ok());
  const cfgkit::KeyId root = store.tree().Root();
  cfgkit::Store::CreateError error;
  store.SetValue(store.Create(root, {"user", "A", "B"}, &error),
                 Value{"v", ValueType::kString, "x", 0});
  EXPECT_TRUE(store.DeleteValue(store.Find(root, {"user"}), "gone"));
  EXPECT_FALSE(store.DeleteValue(store.Find(root, {"user"}), "gone"));
  store.DeleteKey(store.Find(root, {"user", "A"}));
  using Kind = cfgkit::Change::Kind;
  const std::tuple<Kind, Names, std::string> expected[] = {
      {Kind::kCreateKey, {"user", "A", "B"}, ""},
      {Kind::kSetValue, {"user", "A", "B"}, "v"},
      {Kind::kDeleteValue, {"user"}, "gone"},
      {Kind::kDeleteKey, {"user", "A"}, ""}};
  const cfgkit::ChangeLog& log = store.PendingChanges("user");
  ASSERT_EQ(std::size(expected), log.size());
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(expected[i], std::tie(log[i].kind, log[i].path, log[i].value.name)) << i;
  }
  EXPECT_EQ("x", log[1].value.text);
  ASSERT_TRUE(store.Save().ok());
  EXPECT_TRUE(store.PendingChanges("user").empty());
}

// Two processes load the same file, then each changes it and saves in turn:
// the second save starts from the first one's file.
TEST_F(SaveTest, ASaveCatchesUpWithFilesSavedMeanwhile) {
  Put(admin, "a", "<value name='base' type='string'>0</value><key name='gone'/>");
  cfgkit::Store first(cfgkit::PosixFileOps(), nullptr), second(cfgkit::PosixFileOps(), nullptr);
  ASSERT_TRUE(first.Load(admin, user).ok());
  ASSERT_TRUE(second.Load(admin, user).ok());
  const cfgkit::KeyId root = first.tree().Root();
  first.SetValue(first.Find(root, {"a"}), Value{"one", ValueType::kString, "1", 0});
  first.SetValue(first.Find(root, {"a"}), Value{"both", ValueType::kString, "first", 0});
  ASSERT_TRUE(first.Save().ok());
  second.SetValue(second.Find(root, {"a"}), Value{"both", ValueType::kString, "second", 0});
  EXPECT_TRUE(second.DeleteValue(second.Find(root, {"a"}), "base"));
  second.DeleteKey(second.Find(root, {"a", "gone"}));
  ASSERT_TRUE(second.Save().ok());

  ASSERT_EQ(0, Load());
  TalRegKey key = Open("a");
  EXPECT_EQ("1", Str(key, "one"));
  EXPECT_EQ("second", Str(key, "both"));
  int32_t type = 0;
  EXPECT_EQ(kTalRegValueNotFound, TalRegGetValueTypeA(key, "base", &type));
  EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("a/gone"));
}

TEST_F(SaveTest, AFileDamagedSinceTheLoadIsNeverOverwritten) {
  Put(admin, "a", "<value name='v' type='string'>old</value>");
  ASSERT_EQ(0, Load());
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a"), "v", "new"));
  WriteBytes(admin + "/a.XML", "<key name='a'><broken>");
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ("<key name='a'><broken>", ReadBytes(admin + "/a.XML"));
}

TEST_F(SaveTest, LeftoversOfDeadSavesAreRemovedAndABusyLockFailsTheSave) {
  for (const char* name : {".a.XML.tmp.99999.0", ".a.XML.old.99999.3"}) {
    WriteBytes(admin + "/" + name, "half");
  }
  WriteBytes(admin + "/.keep", "not ours");
  ASSERT_EQ(0, Load());
  TalRegKey key = nullptr;
  ASSERT_EQ(kTalRegOk, TalRegCreateKeyA(nullptr, "a", &key));
  FaultyFileOps busy(1);
  TalRegUseFileOps(&busy);
  ASSERT_EQ(0, Load());
  ASSERT_EQ(kTalRegOk, TalRegCreateKeyA(nullptr, "a", &key));
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ("LockFile", busy.failed());
  EXPECT_EQ((Names{".a.XML.old.99999.3", ".a.XML.tmp.99999.0", ".keep"}), ListNames(admin));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{".keep", "a.XML"}), ListNames(admin));
}

// The loader skips files beginning with '.', so no key may need one.
TEST_F(SaveTest, TopLevelKeysThatNoFileCouldHoldAreRefused) {
  ASSERT_EQ(0, Load());
  TalRegKey key = nullptr;
  EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, ".hidden/sub", &key));
  EXPECT_EQ(kTalRegInvalidArgument, TalRegCreateKeyA(nullptr, std::string(201, 'k').c_str(), &key));
  EXPECT_EQ(kTalRegOk, TalRegCreateKeyA(nullptr, "visible/.sub", &key));
}

}  // namespace
}  // namespace cfgtest
