#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>

#include "cfgkit/store.h"
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
  const std::string adminCopy = ReadFile(admin + "/user.XML");
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
  EXPECT_EQ(adminCopy, ReadFile(admin + "/user.XML"));  // outside its home folder: never written
  ASSERT_EQ(0, Load());
  for (const char* key : created) EXPECT_EQ("1", Str(Open(key), "v")) << key;
  for (const char* key : {"a", "r/old", "moved_user"})
    EXPECT_EQ(kTalRegKeyNotFound, OpenStatus(key)) << key;
}

// A file system without hard links (FAT, many network shares): old files are
// kept for a roll-back by a flushed copy instead.
struct NoHardLinks : FaultyFileOps {
  using FaultyFileOps::FaultyFileOps;
  Status Link(const std::string& from, const std::string& to) override {
    return Status::NotSupported(from + ": Operation not permitted");
  }
};

// Fails each step of a save that rewrites two files and removes a third, in
// turn, with hard links and without.
TEST_F(SaveTest, EveryFailedStepLeavesTheOldFiles) {
  const Names paths = {admin + "/a.XML", user + "/user.XML", admin + "/gone.XML"};
  const Names old = {StoreFile("a", "<value name='v' type='string'>old</value>"),
                     StoreFile("user", "<value name='v' type='string'>old</value>"),
                     StoreFile("gone", "")};
  for (bool hardLinks : {true, false}) {
    bool succeeded = false;
    for (int step = 1; step < 80 && !succeeded; ++step) {
      for (size_t i = 0; i < paths.size(); ++i) WriteFile(paths[i], old[i]);
      FaultyFileOps withLinks(step);
      NoHardLinks withoutLinks(step);
      FaultyFileOps& ops = hardLinks ? withLinks : withoutLinks;
      TalRegUseFileOps(&ops);
      ASSERT_EQ(0, _LoadPathsA(admin.c_str(), user.c_str()));
      for (const char* key : {"a", "user"})
        ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open(key), "v", "new"));
      ASSERT_EQ(kTalRegOk, TalRegDeleteKeyRecursiveA(nullptr, "gone"));
      const int status = TalRegSave();
      SCOPED_TRACE((hardLinks ? "step " : "without hard links, step ") + std::to_string(step) +
                   " failing " + ops.failed());
      succeeded = ops.failed().empty();
      if (!succeeded) {
        EXPECT_NE(kTalRegOk, status);
        for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(old[i], ReadFile(paths[i])) << i;
        EXPECT_EQ(Names{}, Leftovers({admin, user}));
        ops.Stop();
      }
      EXPECT_EQ(kTalRegOk, TalRegSave());  // what failed is still pending
      EXPECT_EQ(Names{}, Leftovers({admin, user}));
      ASSERT_EQ(0, _LoadPathsA(admin.c_str(), user.c_str()));
      for (const char* key : {"a", "user"}) EXPECT_EQ("new", Str(Open(key), "v"));
      EXPECT_EQ(kTalRegKeyNotFound, OpenStatus("gone"));
    }
    EXPECT_TRUE(succeeded) << hardLinks;
  }
}

// Some file systems cannot flush a folder (EINVAL) or store modes (FAT through
// FUSE): the file then is as durable and as open as they make it.
TEST_F(SaveTest, WhatTheFileSystemCannotDoIsNoFailure) {
  for (const char* call : {"SyncDir", "ChangeMode"}) {
    SCOPED_TRACE(call);
    Put(admin, "a", "");
    FaultyFileOps cannot(call, fsio::Status::NotSupported("Function not implemented"), true);
    TalRegUseFileOps(&cannot);
    ASSERT_EQ(0, Load());
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a"), "v", "new"));
    ASSERT_EQ(kTalRegOk, TalRegSave());
    EXPECT_EQ(call, cannot.failed());
    EXPECT_EQ((Names{"a.XML"}), ListNames(admin));
    TalRegUseFileOps(nullptr);
    ASSERT_EQ(0, Load());  // lets go of the store while `cannot` lives
  }
}

// Records the permission bits each temporary file has while it is written.
struct ModeWhileWritten : fsio::FileOpsWrapper {
  ModeWhileWritten() : FileOpsWrapper(fsio::PosixFileOps()) {}
  fsio::Status Write(int fd, std::string_view data) override {
    struct stat info;
    if (::fstat(fd, &info) == 0) modes.push_back(info.st_mode & 07777);
    return FileOpsWrapper::Write(fd, data);
  }
  std::vector<uint32_t> modes;
};

// Runs `body` in a child process as the user `uid` of the group `uid` and,
// when given, the group `member`; true when it exits 0.
template <class Body>
bool AsUser(uid_t uid, Body body, gid_t member = 0) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(member != 0 ? 1 : 0, &member) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
      ::_exit(2);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Loads the store of `admin` and `user` and saves the value a/by = `by` in it.
bool SaveBy(const std::string& admin, const std::string& user, const std::string& by) {
  cfgkit::Store store(cfgkit::PosixFileOps(), nullptr);
  cfgkit::Store::CreateError error;
  if (!store.Load(admin, user).ok()) return false;
  store.SetValue(store.Create(store.tree().Root(), {"a"}, &error),
                 cfgkit::Value{"by", cfgkit::ValueType::kString, by, 0});
  return store.Save().ok();
}

TEST_F(SaveTest, ASaveKeepsTheModeOwnerAndGroupOfTheFileItReplaces) {
  Put(user, "user", "");
  Put(admin, "a", "");
  const std::string privateFile = user + "/user.XML", shared = admin + "/a.XML";
  ::chmod(privateFile.c_str(), 0600);
  ::chmod(shared.c_str(), 0664);
  const bool asRoot = ::geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(0, ::chown(shared.c_str(), 65534, 65534));
  }
  // An ACL "group:65534:r--" beside the mode's bits (user rw-, group ---, mask r--, other ---).
  const std::string acl =
      std::string("\x02\0\0\0", 4) + std::string("\x01\0\x06\0\xff\xff\xff\xff", 8) +
      std::string("\x04\0\0\0\xff\xff\xff\xff", 8) + std::string("\x08\0\x04\0\xfe\xff\0\0", 8) +
      std::string("\x10\0\x04\0\xff\xff\xff\xff", 8) + std::string("\x20\0\0\0\xff\xff\xff\xff", 8);
  auto aclOf = [](const std::string& path, const char* kind) {
    std::string bytes(256, '\0');
    bytes.resize(std::max<ssize_t>(0, ::getxattr(path.c_str(), kind, bytes.data(), bytes.size())));
    return bytes;
  };
  // The same as the admin folder's default: new files there get it, whatever
  // the umask, and a file without one gets none from it.
  const bool acls =
      ::setxattr(privateFile.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0 &&
      ::setxattr(admin.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;
  ModeWhileWritten ops;
  TalRegUseFileOps(&ops);
  const mode_t umask = ::umask(027);
  ASSERT_EQ(0, Load());
  for (const char* key : {"user", "a", "b"})
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create(key), "v", "new"));
  const int status = TalRegSave();
  ::umask(umask);
  ASSERT_EQ(kTalRegOk, status);
  // Nobody else may read a temporary before it has its target's access.
  EXPECT_EQ(std::vector<uint32_t>(3, 0600), ops.modes);
  if (acls) {
    EXPECT_EQ(acl, aclOf(privateFile, "system.posix_acl_access"));
    EXPECT_EQ(acl, aclOf(admin + "/b.XML", "system.posix_acl_access"));
    EXPECT_EQ("", aclOf(shared, "system.posix_acl_access"));
  }
  EXPECT_EQ(acls ? 0640u : 0600u, ModeOf(privateFile));  // the group bits are the ACL's mask
  EXPECT_EQ(0664u, ModeOf(shared));
  EXPECT_EQ(0640u, ModeOf(admin + "/b.XML"));  // a new file follows the umask or the default ACL
  if (!asRoot) return;
  struct stat info;
  ASSERT_EQ(0, ::stat(shared.c_str(), &info));
  EXPECT_EQ(std::pair(65534u, 65534u), std::pair(info.st_uid, info.st_gid));
  // A saver who cannot keep the file's group gives that group's rights to nobody.
  ::removexattr(admin.c_str(), "system.posix_acl_default");
  ::chmod(root.c_str(), 0755);
  ::chmod(admin.c_str(), 0777);
  ::unlink((admin + "/.cfgkit.lock").c_str());  // root's, made for the folder as it was
  ASSERT_EQ(0, ::chown(shared.c_str(), 0, 3000));
  EXPECT_TRUE(AsUser(65534, [&] { return SaveBy(admin, user, "nobody"); }));
  ASSERT_EQ(0, ::stat(shared.c_str(), &info));
  EXPECT_EQ(0604u, info.st_mode & 07777);
  EXPECT_EQ(65534u, info.st_gid);
}

// The lock file is as writable as its folder and readable by no one else, so
// a user who may only read it cannot hold off the others; every user who may
// write the folder can save. One left less so by an older version is replaced
// by its owner's next save.
TEST_F(SaveTest, EveryUserWhoMayWriteTheFolderCanSaveAndNoOneElseCanHoldItsLock) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  const std::string lock = admin + "/.cfgkit.lock";
  ::chmod(root.c_str(), 0755);
  auto saveAs = [&](const std::string& by) { return SaveBy(admin, admin, by); };
  for (mode_t folderMode : {0755, 0777}) {
    SCOPED_TRACE(folderMode);
    ::chmod(admin.c_str(), folderMode);
    Put(admin, "a", "");
    ::chmod((admin + "/a.XML").c_str(), 0666);
    ::unlink(lock.c_str());
    ASSERT_TRUE(saveAs("root"));
    EXPECT_EQ(folderMode == 0777 ? 0666u : 0600u, ModeOf(lock));
    // As an older version left it: anybody may open it to lock it.
    ::chmod(lock.c_str(), 0644);
    int held[2];
    ASSERT_EQ(0, ::pipe(held));
    const pid_t holder = ::fork();
    if (holder == 0) {
      // Both kinds of lock, through a descriptor open for reading only.
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      int fd = ::open(lock.c_str(), O_RDONLY);
      struct flock shared = {};
      shared.l_type = F_RDLCK;
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::fcntl(fd, F_OFD_SETLK, &shared) != 0) ::_exit(3);
      static_cast<void>(::write(held[1], "x", 1));
      ::sleep(30);
      ::_exit(0);
    }
    char byte;
    ASSERT_EQ(1, ::read(held[0], &byte, 1));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(saveAs("root again"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(held[0]), ::close(held[1]);
    EXPECT_EQ(folderMode == 0777 ? 0666u : 0600u, ModeOf(lock));
    EXPECT_EQ(folderMode == 0777, AsUser(65534, [&] { return saveAs("nobody"); }));
    EXPECT_EQ(folderMode == 0777, Has(ReadFile(admin + "/a.XML"), "nobody"));
  }
  // In a folder its group may write, the first member to save makes a lock
  // file every other member can open.
  ::chmod(admin.c_str(), 0775);
  ASSERT_EQ(0, ::chown(admin.c_str(), 0, 2000));
  ::unlink(lock.c_str());
  ::chmod((admin + "/a.XML").c_str(), 0664);
  ASSERT_EQ(0, ::chown((admin + "/a.XML").c_str(), 0, 2000));
  for (uid_t member : {1001, 1002}) {
    const std::string by = "member " + std::to_string(member);
    auto save = [&] { return saveAs(by); };
    EXPECT_TRUE(AsUser(member, save, 2000)) << by;
    EXPECT_TRUE(Has(ReadFile(admin + "/a.XML"), by)) << by;
  }
}

// A store file that is a link to a shared file: the shared file is replaced,
// atomically, and the link stays. A link of another user, or into another
// user's folder, is never written through.
TEST_F(SaveTest, ALinkedStoreFileIsSavedIntoItsTargetWhenTheLinkIsTrusted) {
  const std::string shared = root + "/shared", target = shared + "/a.XML", link = admin + "/a.XML";
  std::filesystem::create_directory(shared);
  WriteFile(target, StoreFile("a", ""));
  ASSERT_EQ(0, ::symlink("../shared/a.XML", link.c_str()));
  // {row, link owner, folder owner, saves}
  const std::tuple<const char*, uid_t, uid_t, bool> rows[] = {
      {"ours", 0, 0, true},
      {"a link of nobody", 65534, 0, false},
      {"into a folder of nobody", 0, 65534, false}};
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the link to another user";
  for (auto [row, linkOwner, folderOwner, saves] : rows) {
    SCOPED_TRACE(row);
    ASSERT_EQ(0, ::lchown(link.c_str(), linkOwner, linkOwner));
    ASSERT_EQ(0, ::chown(shared.c_str(), folderOwner, folderOwner));
    const std::string before = ReadFile(target);
    ASSERT_EQ(0, Load());
    ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a"), "v", row));
    EXPECT_EQ(saves ? kTalRegOk : kTalRegIoError, TalRegSave());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(saves, Has(ReadFile(target), row));
    if (!saves) {
      EXPECT_EQ(before, ReadFile(target));
    }
    EXPECT_EQ((Names{"a.XML"}), ListNames(shared));
  }
  // A folder reached through a link of nobody, as root running with nobody's
  // HOME reaches it: no save, not even its lock, goes where the link points.
  const std::string linked = root + "/linked";
  ASSERT_EQ(0, ::chown(shared.c_str(), 0, 0));
  ASSERT_EQ(0, ::symlink(shared.c_str(), linked.c_str()));
  ASSERT_EQ(0, ::lchown(linked.c_str(), 65534, 65534));
  ASSERT_EQ(0, _LoadPathsA(admin.c_str(), (linked + "/").c_str()));
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Create("user"), "v", "x"));
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ((Names{"a.XML"}), ListNames(shared));
}

// A missing folder fails the save and is not made; one folder reached by two
// spellings is one folder to lock, not two.
TEST_F(SaveTest, AMissingFolderFailsTheSaveAndOneReachedByTwoPathsIsLockedOnce) {
  const std::string missing = root + "/gone", alias = root + "/alias";
  ASSERT_EQ(0, _LoadPathsA(missing.c_str(), user.c_str()));
  Create("newkey");
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_FALSE(fs::exists(missing));
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
// starts from its file. One it damaged meanwhile is never overwritten.
TEST_F(SaveTest, ASaveCatchesUpWithFilesSavedMeanwhileAndNeverOverwritesDamage) {
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
  ASSERT_EQ(kTalRegOk, TalRegSetStringValueA(Open("a/new"), "v", "new"));
  WriteFile(admin + "/a.XML", "<key name='a'><broken>");
  EXPECT_EQ(kTalRegIoError, TalRegSave());
  EXPECT_EQ("<key name='a'><broken>", ReadFile(admin + "/a.XML"));
}

TEST_F(SaveTest, LeftoversOfDeadSavesAreRemovedAndABusyLockFailsTheSave) {
  for (const char* name : {".a.XML.tmp.99999.0", ".a.XML.old.99999.3", ".keep"})
    WriteFile(admin + "/" + name, "half");
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
