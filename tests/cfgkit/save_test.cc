#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "cfgkit/store.h"
#include "test_util.h"

namespace cfgtest {
namespace {

using Names = std::vector<std::string>;
class SaveTest : public StoreTest {
 protected:
  void ExpectEveryFailedStepLeavesTheOldFiles(bool hardLinks);
};
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

// A file system without hard links (FAT, many network shares): old files are
// kept for a roll-back by a flushed copy instead.
struct NoHardLinks : FaultyFileOps {
  using FaultyFileOps::FaultyFileOps;
  Status Link(const std::string& from, const std::string& to) override {
    return Status::NotSupported(from + ": Operation not permitted");
  }
};

// Fails each step of a save that rewrites two files and removes a third, in turn.
void SaveTest::ExpectEveryFailedStepLeavesTheOldFiles(bool hardLinks) {
  const Names paths = {admin + "/a.XML", user + "/user.XML", admin + "/gone.XML"};
  const Names old = {StoreFile("a", "<value name='v' type='string'>old</value>"),
                     StoreFile("user", "<value name='v' type='string'>old</value>"),
                     StoreFile("gone", "")};
  auto expectNoTempFiles = [&] {
    for (const std::string& dir : {admin, user})
      for (const std::string& name : ListNames(dir)) EXPECT_NE('.', name[0]) << dir << name;
  };
  bool succeeded = false;
  for (int step = 1; step < 80 && !succeeded; ++step) {
    for (size_t i = 0; i < paths.size(); ++i) WriteBytes(paths[i], old[i]);
    FaultyFileOps withLinks(step);
    NoHardLinks withoutLinks(step);
    FaultyFileOps& ops = hardLinks ? withLinks : withoutLinks;
    TalRegUseFileOps(&ops);
    ASSERT_EQ(0, _LoadPathsA(admin.c_str(), user.c_str()));
    for (const char* key : {"a", "user"})
      ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open(key), "v", "new"));
    ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, "gone"));
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
    ASSERT_EQ(0, _LoadPathsA(admin.c_str(), user.c_str()));
    for (const char* key : {"a", "user"}) EXPECT_EQ("new", Str(Open(key), "v"));
    EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("gone"));
  }
  EXPECT_TRUE(succeeded);
}

TEST_F(SaveTest, EveryFailedStepLeavesTheOldFiles) { ExpectEveryFailedStepLeavesTheOldFiles(true); }

TEST_F(SaveTest, EveryFailedStepLeavesTheOldFilesWithoutHardLinks) {
  ExpectEveryFailedStepLeavesTheOldFiles(false);
}

// Some file systems cannot flush a folder (EINVAL); the rename then is as
// durable as they make it, and the save succeeds.
TEST_F(SaveTest, AFolderThatCannotBeFlushedIsNoFailure) {
  Put(admin, "a", "");
  FaultyFileOps noFolderSync("SyncDir", fsio::Status::NotSupported("cannot flush a folder"), true);
  TalRegUseFileOps(&noFolderSync);
  ASSERT_EQ(0, Load());
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a"), "v", "new"));
  ASSERT_EQ(kTalRegOk, TalRegSave());
  EXPECT_EQ("SyncDir", noFolderSync.failed());
  EXPECT_EQ((Names{"a.XML"}), ListNames(admin));
}

TEST_F(SaveTest, ASaveKeepsTheModeOwnerAndGroupOfTheFileItReplaces) {
  Put(user, "user", "");
  Put(admin, "a", "");
  const std::string privateFile = user + "/user.XML", shared = admin + "/a.XML";
  ::chmod(privateFile.c_str(), 0600);
  ::chmod(shared.c_str(), 0664);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(shared.c_str(), 65534, 65534));
  }
  const mode_t umask = ::umask(027);
  ASSERT_EQ(0, Load());
  for (const char* key : {"user", "a", "b"})
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create(key), "v", "new"));
  const int status = TalRegSave();
  ::umask(umask);
  ASSERT_EQ(kTalRegOk, status);
  struct stat info;
  ASSERT_EQ(0, ::stat(privateFile.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  ASSERT_EQ(0, ::stat(shared.c_str(), &info));
  EXPECT_EQ(0664u, info.st_mode & 07777);
  if (root) {
    EXPECT_EQ(65534u, info.st_uid);
    EXPECT_EQ(65534u, info.st_gid);
  }
  ASSERT_EQ(0, ::stat((admin + "/b.XML").c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);  // a new file follows the umask
}

// The first user to save in a shared folder must not lock out the others: a
// lock file they may not write is locked through a read-only descriptor.
TEST_F(SaveTest, EveryUserWhoMayWriteTheFolderCanSave) {
  ::chmod(admin.c_str(), 0777);
  Put(admin, "a", "");
  ::chmod((admin + "/a.XML").c_str(), 0666);
  ASSERT_EQ(0, Load());
  Create("b");
  ASSERT_EQ(kTalRegOk, TalRegSave());
  struct stat info;
  ASSERT_EQ(0, ::stat((admin + "/.cfgkit.lock").c_str(), &info));
  EXPECT_EQ(0666u, info.st_mode & 0777);  // as writable as the folder
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  ::chmod(root.c_str(), 0755);
  ::chmod((admin + "/.cfgkit.lock").c_str(), 0644);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    cfgkit::Store store(cfgkit::PosixFileOps(), nullptr);
    if (!store.Load(admin, admin).ok()) ::_exit(3);
    cfgkit::Store::CreateError error;
    cfgkit::KeyId key = store.Create(store.tree().Root(), {"a"}, &error);
    store.SetValue(key, cfgkit::Value{"by", cfgkit::ValueType::kString, "nobody", 0});
    ::_exit(store.Save().ok() ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(std::string::npos, ReadBytes(admin + "/a.XML").find("nobody"));
}

// One folder reached by two spellings is one folder to lock, not two.
TEST_F(SaveTest, AFolderReachedByTwoPathsIsLockedOnce) {
  const std::string alias = root + "/alias";
  ASSERT_EQ(0, ::symlink(admin.c_str(), alias.c_str()));
  ASSERT_EQ(0, _LoadPathsA(admin.c_str(), alias.c_str()));
  for (const char* key : {"a", "user"})
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create(key), "v", "new"));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(kTalRegOk, TalRegSave());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ((Names{"a.XML", "user.XML"}), ListNames(admin));
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
