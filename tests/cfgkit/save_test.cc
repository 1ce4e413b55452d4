#include <chrono>

#include "test_util.h"

namespace cfgtest {
namespace {

using Names = std::vector<std::string>;
using SaveTest = StoreTest;
namespace fs = std::filesystem;

TEST_F(SaveTest, OnlyChangedFilesAreRewritten) {
  Put(admin, "a", "<key name='deep'><value name='v' type='string'>1</value></key>");
  Put(admin, "b", "<!-- hand edited --><value name='v' type='string'>1</value>");
  const std::string a = admin + "/a.XML", b = admin + "/b.XML";
  const auto old = fs::last_write_time(a) - std::chrono::hours(1000);
  for (const std::string& path : {a, b}) fs::last_write_time(path, old);
  ASSERT_EQ(0, Load());
  Create("b");  // creating an existing key changes nothing
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a/deep"), "v", "2"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_NE(old, fs::last_write_time(a));
  EXPECT_EQ(old, fs::last_write_time(b));
  fs::last_write_time(a, old);
  ASSERT_EQ(kTalRegOk, TalRegSave());  // what was saved is not written again
  EXPECT_EQ(old, fs::last_write_time(a));
}

TEST_F(SaveTest, TopLevelKeysAreSavedInTheirHomeFolderAndDeletedWithTheirFile) {
  Put(admin, "user", "<value name='from' type='string'>admin copy</value>");
  const std::string adminCopy = ReadBytes(admin + "/user.XML");
  // moved_user's only copy lies outside its home folder.
  for (const char* key : {"a", "r", "moved_user"}) Put(admin, key, "<key name='old'/>");
  ASSERT_EQ(0, Load());
  for (const char* key : {"a", "r", "moved_user"})
    ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, key)) << key;
  const char* created[] = {"user", "x_user", "newkey", "user_x", "r/new"};
  for (const char* key : created)
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create(key), "v", "1"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{"newkey.XML", "r.XML", "user.XML", "user_x.XML"}), ListNames(admin));
  EXPECT_EQ((Names{"user.XML", "x_user.XML"}), ListNames(user));
  EXPECT_EQ(adminCopy, ReadBytes(admin + "/user.XML"));  // outside its home folder: never written
  ASSERT_EQ(0, Load());
  for (const char* key : created) EXPECT_EQ("1", Str(Open(key), "v")) << key;
  for (const char* key : {"a", "r/old", "moved_user"})
    EXPECT_EQ(kTalRegKeyNotFound, OpenStatus(key)) << key;
}

// Fails each mutating file operation of a two-file save in turn.
TEST_F(SaveTest, SavingIntoAMissingFolderFailsAndWritesNothing) {
  const std::string missing = root + "/gone";
  ASSERT_EQ(0, _LoadPathsA(missing.c_str(), user.c_str()));
  Create("newkey");
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SaveTest, EveryFailedStepLeavesTheOldFiles) {
  Put(admin, "a", "<value name='v' type='string'>old</value>");
  Put(user, "user", "<value name='v' type='string'>old</value>");
  const Names paths = {admin + "/a.XML", user + "/user.XML"};
  const Names old = {ReadBytes(paths[0]), ReadBytes(paths[1])};
  auto expectNoTempFiles = [&] {
    for (const std::string& dir : {admin, user})
      for (const std::string& name : ListNames(dir)) EXPECT_NE('.', name[0]) << dir << name;
  };
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
      for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(old[i], ReadBytes(paths[i])) << i;
      expectNoTempFiles();
      ops.Stop();
    }
    EXPECT_EQ(kTalRegOk, TalRegSave());  // what failed is still pending
    expectNoTempFiles();
    ASSERT_EQ(0, Load());
    for (const char* key : {"a", "user"}) EXPECT_EQ("new", Str(Open(key), "v")) << key;
  }
  EXPECT_TRUE(succeeded);
}

// Another process saves the file between our load and our save: our save
// starts from its file.
TEST_F(SaveTest, ASaveCatchesUpWithFilesSavedMeanwhile) {
  Put(admin, "a", "<value name='base' type='string'>0</value><key name='gone'/>");
  ASSERT_EQ(0, Load());
  TalRegKey key = Open("a");
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(key, "both", "ours"));
  ASSERT_EQ(kTalRegOk, TalRegDeleteValueA(key, "base"));
  ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(key, "gone"));
  Create("new", key);
  Put(admin, "a",
      "<value name='base' type='string'>0</value><value name='one' type='string'>1</value>"
      "<value name='both' type='string'>theirs</value><key name='gone'/>");
  ASSERT_EQ(kTalRegOk, TalRegSave());
  ASSERT_EQ(0, Load());
  key = Open("a");
  EXPECT_EQ("1", Str(key, "one"));
  EXPECT_EQ("ours", Str(key, "both"));
  EXPECT_EQ("<status " + std::to_string(kTalRegValueNotFound) + ">", Str(key, "base"));
  EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("a/gone"));
  Open("a/new");
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
  for (const char* name : {".a.XML.tmp.99999.0", ".a.XML.old.99999.3", ".keep"})
    WriteBytes(admin + "/" + name, "half");
  FaultyFileOps busy("LockFile");
  TalRegUseFileOps(&busy);
  ASSERT_EQ(0, Load());
  Create("a");
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ("LockFile", busy.failed());
  EXPECT_EQ((Names{".a.XML.old.99999.3", ".a.XML.tmp.99999.0", ".keep"}), ListNames(admin));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ((Names{".keep", "a.XML"}), ListNames(admin));
}

}  // namespace
}  // namespace cfgtest
