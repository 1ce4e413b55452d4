// Compiled snapshot images stand in for parsing only when they describe the
// very file on disk and belong to this user alone; anything else costs speed
// and nothing more.
#include "cfgkit/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "cfgkit/store.h"
#include "cfgkit/xml_codec.h"
#include "fsio/atomic_replace.h"
#include "fsio/content_hash.h"
#include "support/key_file.h"
#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::FileIdentity;
namespace fs = std::filesystem;

constexpr int64_t kHour = 3600 * 1000000000LL;

// Counts the reads of store files, so a test can tell an image from a parse.
// A test may act before and after each read, and keep one file's identity
// as it was whatever is done to the file.
struct CountingOps : cfgkit::FileOpsWrapper {
  CountingOps() : FileOpsWrapper(cfgkit::PosixFileOps()) {}
  cfgkit::Status ReadFile(const std::string& path, std::string* contents,
                          FileIdentity* identity) override {
    if (path.ends_with(".XML")) ++xmlReads;
    cfgkit::Status status = beforeRead ? beforeRead(path) : cfgkit::Status::OK();
    if (status.ok()) status = FileOpsWrapper::ReadFile(path, contents, identity);
    if (afterRead) afterRead();
    if (path == kept.first && identity != nullptr) *identity = kept.second;
    return status;
  }
  cfgkit::Status Stat(const std::string& path, FileIdentity* identity, bool follow) override {
    cfgkit::Status status = FileOpsWrapper::Stat(path, identity, follow);
    if (path == kept.first) *identity = kept.second;
    return status;
  }
  bool HasReliableTimes(const std::string& dir) override { return reliableTimes; }
  cfgkit::Status MapUnchanging(int fd, size_t size, const char** data) override {
    if (!leases) return cfgkit::Status::NotSupported("no leases here");
    return FileOpsWrapper::MapUnchanging(fd, size, data);
  }
  void MapInWhole(const char* data, size_t size) override {
    ++mappedInWhole;
    FileOpsWrapper::MapInWhole(data, size);
  }
  std::function<cfgkit::Status(const std::string& path)> beforeRead;
  std::function<void()> afterRead;
  std::pair<std::string, FileIdentity> kept;
  int xmlReads = 0;
  bool reliableTimes = true;
  bool leases = true;  // else images are read into a private copy
  int mappedInWhole = 0;
};

class SnapshotTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    Put(admin, "a",
        "<value name='v' type='string'>one</value><value name='n' type='int'>-7</value>"
        "<key name='A'><key name='B'><value name='' type='string'>deep</value></key></key>"
        "<key name='C'/>");
    cache = root + "/cache", file = admin + "/a.XML";
    image = Cache().PathFor(file);
  }
  cfgkit::SnapshotCache Cache() { return *cfgkit::SnapshotCache::Prepare(ops, cache); }
  // Every image keeps its values' name order, so that a damaged order is met too.
  cfgkit::Store Loaded(int64_t window) {
    cfgkit::StoreOptions options{cache, window};
    options.keepsNameOrder = [](std::string_view) { return true; };
    cfgkit::Store store(
        ops, [](int level, const std::string& line) { logs.emplace_back(level, line); }, options);
    EXPECT_TRUE(store.Load(admin, user).ok());
    return store;
  }
  // Every top-level key as the writer would write it: what a run sees; with
  // `byName`, then every key's values in name order as a listing reads them.
  std::string LoadAndWriteAll(int64_t window = 0, bool byName = false) {
    cfgkit::Store store = Loaded(window);
    std::string all;
    const cfgkit::KeyTree& tree = store.tree();
    for (size_t i = 0; i < tree.SubkeyCount(tree.Root()); ++i) {
      all += cfgkit::SerializeKey(tree, tree.SubkeyAt(tree.Root(), i));
    }
    return byName ? all + ValuesByName(tree, tree.Root()) : all;
  }
  static std::string ValuesByName(const cfgkit::KeyTree& tree, cfgkit::KeyId key) {
    std::vector<std::string_view> byName;
    tree.ValueNamesByName(key, &byName);
    std::string names;
    for (std::string_view name : byName) names.append(name).append("|");
    for (size_t i = 0; i < tree.SubkeyCount(key); ++i) {
      names += "/" + ValuesByName(tree, tree.SubkeyAt(key, i));
    }
    return names;
  }
  // Writes a well-formed image of the file's content with "deep" changed to
  // "DEEP", claiming `identity`, and tells whether a load then uses it.
  bool UsesForgedImage(const FileIdentity& identity, uint64_t hash, int64_t createdNs,
                       int64_t window = 0, const std::string& source = "") {
    std::string bytes = ReadFile(file);
    bytes.replace(bytes.find("deep"), 4, "DEEP");
    testsupport::KeyFile parsed;
    EXPECT_TRUE(testsupport::ReadKeyFile(bytes, "a", &parsed));
    std::string forged = testsupport::ImageOf(
        parsed.tree, parsed.top, source.empty() ? file : source, identity, hash, createdNs);
    EXPECT_TRUE(fsio::ReplaceFile(ops, image, forged, fsio::Permissions::kPrivate).ok());
    return Has(LoadAndWriteAll(window), "DEEP");
  }
  FileIdentity IdentityOfFile() {
    FileIdentity identity;
    EXPECT_TRUE(ops.Stat(file, &identity, true).ok());
    return identity;
  }
  std::unique_ptr<cfgkit::Snapshot> OpenImage() {
    return cfgkit::Snapshot::Open(ops, image, file, IdentityOfFile());
  }
  uint64_t FileHash() { return fsio::Hash64(ReadFile(file)); }
  static void SetAndSave(cfgkit::Store& store, const std::vector<std::string_view>& path,
                         const char* name, const char* text) {
    cfgkit::Store::CreateError error;
    cfgkit::KeyId key = store.Create(store.tree().Root(), path, &error);
    store.SetValue(key, cfgkit::Value{name, cfgkit::ValueType::kString, text, 0});
    ASSERT_TRUE(store.Save().ok());
  }

  CountingOps ops;
  std::string cache, file, image;
};

TEST_F(SnapshotTest, FilesReadWhenUsedAreReadOnceAndOnlyWhenTheirKeyIsUsed) {
  Put(admin, "b", "<value name='b' type='string'>");  // damaged
  Put(admin, "c", "<value name='c' type='int'>3</value>");
  cfgkit::StoreOptions options{cache, 0};
  options.readFilesWhenUsed = true;
  cfgkit::Store store(ops, nullptr, options);
  ASSERT_TRUE(store.Load(admin, user).ok());
  EXPECT_EQ(0, ops.xmlReads);
  cfgkit::KeyId found = store.Find(store.tree().Root(), {"a", "A", "B"});
  ASSERT_NE(cfgkit::kNoKey, found);
  EXPECT_EQ("deep", store.tree().FindValue(found, "")->text);
  EXPECT_EQ(cfgkit::kNoKey, store.Find(store.tree().Root(), {"a", "X"}));
  EXPECT_EQ(1, ops.xmlReads);
  // A damaged file is known as such once its key is used, as at a full load.
  cfgkit::Store::CreateError error;
  EXPECT_EQ(cfgkit::kNoKey, store.Create(store.tree().Root(), {"b", "new"}, &error));
  EXPECT_EQ(cfgkit::Store::CreateError::kProtected, error);
  EXPECT_EQ(2, ops.xmlReads);
  EXPECT_EQ(1u, store.tree().SubkeyCount(store.tree().Root()));
}

// An image is used only for the very file it was made from. A file edited
// again within the clock tick of its last change keeps its identity; only its
// bytes tell. So do files on FAT and network shares.
TEST_F(SnapshotTest, AnImageIsUsedOnlyForItsFileAndARecentOneOnlyWhenTheBytesMatch) {
  // An image counts as made when its file was read, not when the slow parse
  // that followed ended: the file may have changed in between, unseen.
  ops.afterRead = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };
  const int64_t window = 1000 * 1000000LL;  // far more than the file's age when it is read
  LoadAndWriteAll(window);
  EXPECT_FALSE(OpenImage()->IsSettled(window));
  ops.afterRead = nullptr;
  const FileIdentity identity = IdentityOfFile();
  const int64_t settled = identity.changedNs + 1;
  EXPECT_TRUE(UsesForgedImage(identity, 0, settled));
  EXPECT_FALSE(UsesForgedImage(identity, 0, settled, 0, admin + "/b.XML"));
  FileIdentity changed[] = {identity, identity, identity, identity, identity};
  changed[0].size++, changed[1].inode++, changed[2].device++;
  changed[3].modifiedNs--, changed[4].changedNs--;
  for (const FileIdentity& other : changed) EXPECT_FALSE(UsesForgedImage(other, 0, settled));
  EXPECT_FALSE(UsesForgedImage(identity, FileHash() + 1, identity.changedNs, kHour));
  EXPECT_TRUE(UsesForgedImage(identity, FileHash(), identity.changedNs, kHour));
  // Still within the window: the next run compares again.
  EXPECT_FALSE(OpenImage()->IsSettled(kHour));
  // Past it, a match is recorded, and later runs trust the identity alone...
  EXPECT_TRUE(Has(LoadAndWriteAll(0), "DEEP"));
  EXPECT_TRUE(OpenImage()->IsSettled(1000));
  // ...except where the file system's times cannot be trusted.
  ops.reliableTimes = false;
  EXPECT_FALSE(UsesForgedImage(identity, FileHash() + 1, identity.changedNs + kHour));
  EXPECT_TRUE(UsesForgedImage(identity, FileHash(), identity.changedNs));
  EXPECT_FALSE(OpenImage()->IsSettled(0));
}

// A warm load reads no file and sees exactly what a cold one sees. Every
// byte an answer rests on is checked: a changed byte anywhere in a settled
// image, or an image cut short while in use, reads as the file does.
TEST_F(SnapshotTest, AWarmLoadSeesWhatAColdLoadSeesAndACorruptImageOrFileWhatTheFileHolds) {
  Put(user, "user", "<value name='u' type='string' encoding='hex'>0d0a</value>");
  const std::string cold = LoadAndWriteAll(0, true);
  ops.xmlReads = 0;
  EXPECT_EQ(cold, LoadAndWriteAll(0, true));
  EXPECT_EQ(0, ops.xmlReads);
  const std::string bytes = ReadFile(image);
  std::vector<std::string> broken = {bytes, bytes};
  broken[0][bytes.find("deep")] ^= 0x20, broken[1][bytes.find("one")] ^= 0x20;
  for (size_t at = 0; at < bytes.size(); at += 7) broken.emplace_back(bytes)[at] ^= 1;
  broken.insert(broken.end(), {bytes.substr(0, bytes.size() - 3), ""});
  for (size_t i = 0; i < broken.size(); ++i) {
    WriteFile(image, broken[i]);
    EXPECT_EQ(cold, LoadAndWriteAll(0, true)) << "damaged image " << i;
  }
  // An edit changes the file's identity, which the forged images above check;
  // damage met behind an image is reported as the file's.
  WriteFile(file, "<key name='a'><broken>");
  logs.clear();
  EXPECT_FALSE(Has(LoadAndWriteAll(), "<key name=\"a\""));
  ASSERT_EQ(1u, logs.size());
  EXPECT_TRUE(Has(logs[0].second, file)) << logs[0].second;
}

// A listing reads a key's values in byte order of their names: from an image
// that keeps that order, from one that does not, and from a key changed since.
TEST_F(SnapshotTest, ValuesByNameComeInByteOrderFromImagesAndChangedKeys) {
  Put(admin, "a",
      "<value name='b' type='string'>1</value><value name='B' type='int'>2</value>"
      "<value name='' type='string'>3</value><value name='\xC3\xA4' type='string'>4</value>"
      "<value name='bb' type='string'>5</value><value name='a' type='string'>6</value>"
      // Alike in their first eight and sixteen bytes.
      "<value name='abcdefghijklmnopB' type='int'>1</value>"
      "<value name='abcdefghijklmnopA' type='int'>1</value>"
      "<value name='abcdefghijklmnop' type='int'>1</value>"
      "<value name='abcdefghi' type='int'>1</value><value name='abcdefgh' type='int'>1</value>");
  const std::string alike =
      "abcdefgh|abcdefghi|abcdefghijklmnop|abcdefghijklmnopA|abcdefghijklmnopB|";
  for (bool keepsOrder : {true, false}) {
    SCOPED_TRACE(keepsOrder);
    cfgkit::StoreOptions options{cache, 0};
    if (keepsOrder) options.keepsNameOrder = [](std::string_view) { return true; };
    fs::remove(image);
    for (int load = 0; load < 2; ++load) {
      ops.xmlReads = 0;
      cfgkit::Store store(ops, nullptr, options);
      ASSERT_TRUE(store.Load(admin, user).ok());
      const cfgkit::KeyId key = store.Find(store.tree().Root(), {"a"});
      ASSERT_NE(cfgkit::kNoKey, key);
      EXPECT_EQ(load == 0 ? 1 : 0, ops.xmlReads);
      EXPECT_EQ("|B|a|" + alike + "b|bb|\xC3\xA4|", ValuesByName(store.tree(), key));
      store.SetValue(key, cfgkit::Value{"ab", cfgkit::ValueType::kString, "7", 0});
      EXPECT_EQ("|B|a|ab|" + alike + "b|bb|\xC3\xA4|", ValuesByName(store.tree(), key));
    }
  }
}

// Another process saves the file at the moment a corrupt block is to be
// rebuilt from it: the read answers from the file as it is now, and every open
// handle still names its key.
TEST_F(SnapshotTest, ACorruptBlockMetByASaveAnswersFromTheFileAsItIsNow) {
  const std::string original = ReadFile(file);
  const std::string saved = StoreFile(
      "a",
      "<value name='v' type='string'>one</value><value name='w' type='string'>new</value>"
      "<key name='A'><key name='B'><value name='' type='string'>deep</value></key></key>");
  const cfgkit::StoreOptions options{cache, 0};
  bool savedMeanwhile = true;  // at the first read of the file, which is the rebuild's
  ops.beforeRead = [&](const std::string& path) {
    if (!std::exchange(savedMeanwhile, true)) WriteFile(path, saved);
    return cfgkit::Status::OK();
  };
  for (auto [text, corrupt] : {std::pair{"deep", "Deep"}, {"one", "One"}}) {
    SCOPED_TRACE(text);
    WriteFile(file, original);
    LoadAndWriteAll();  // an image of the file as it is
    ReplaceIn(image, text, corrupt);
    savedMeanwhile = false;
    TalRegUseFileOps(&ops);
    TalRegSetStoreOptions(&options);
    ASSERT_EQ(0, Load());
    TalRegKey top = Open("a");
    // The look-up of many names at once meets the corrupt block first.
    const std::string_view names[] = {"v", "w"};
    TalRegValueView values[2];
    ASSERT_EQ(0, TalRegFindValuesA(&top, 1, names, 2, values));
    EXPECT_EQ("one", values[0].text);
    EXPECT_EQ("new", values[1].text);
    EXPECT_EQ("deep", Str(Open("A/B", top), ""));
    EXPECT_EQ("one", Str(top, "v"));
    TalRegUseFileOps(nullptr);
    TalRegSetStoreOptions(nullptr);
    ASSERT_EQ(0, Load());  // lets go of the images while `ops` lives
  }
}

// Nobody can cut an image short or change it while a run reads it in place;
// where it is read into a private copy instead, a cut costs a parse. A block
// that fails its check after the file changed cannot be rebuilt: the rest of
// the image reads as missing, and what was read stays as it was.
TEST_F(SnapshotTest, AnImageCutShortWhileInUseNeverStopsARun) {
  const std::string cold = LoadAndWriteAll();
  for (bool leases : {true, false}) {
    SCOPED_TRACE(leases ? "mapped" : "copied");
    ops.leases = leases;
    LoadAndWriteAll();
    std::unique_ptr<cfgkit::Snapshot> open = OpenImage();
    ASSERT_TRUE(open != nullptr);
    cfgkit::KeyTree tree;
    tree.AddTopFromSnapshot("a", open.get());
    tree.SubkeyCount(tree.FindSubkey(tree.Root(), "a"));
    if (leases) {
      // A writer cannot get at the file until the run lets go of it; where
      // the file system has no leases, the run reads a copy the cut cannot touch.
      const int fd = ::open(image.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK);
      if (fd >= 0) {
        ::close(fd);
      } else {
        EXPECT_EQ(EWOULDBLOCK, errno);
      }
    } else {
      ASSERT_EQ(0, ::truncate(image.c_str(), 64));
    }
    EXPECT_EQ(cold, cfgkit::SerializeKey(tree, tree.FindSubkey(tree.Root(), "a")));
  }
  std::string many;
  for (int i = 0; i < 2000; ++i)
    many += testsupport::Key("k" + std::to_string(i), testsupport::Int("v", 1));
  Put(admin, "a", many);
  LoadAndWriteAll();  // still without leases
  std::unique_ptr<cfgkit::Snapshot> open = OpenImage();
  ASSERT_TRUE(open != nullptr);
  cfgkit::KeyTree tree;
  cfgkit::KeyId top = tree.AddTopFromSnapshot("a", open.get());
  ASSERT_EQ(2000u, tree.SubkeyCount(top));
  Put(admin, "a", "");
  ASSERT_EQ(0, ::truncate(image.c_str(), 64));
  size_t values = 0;
  for (size_t i = 0; i < tree.SubkeyCount(top); ++i)
    values += tree.ValueCount(tree.SubkeyAt(top, i));
  EXPECT_LT(values, 2000u);
}

// A listing has each image mapped in whole, whether it was read before or
// after; other runs fault in the pages they read.
TEST_F(SnapshotTest, AListingMapsEachImageInWhole) {
  LoadAndWriteAll();
  for (int whole : {0, 1}) {
    ops.mappedInWhole = 0;
    cfgkit::Store store = Loaded(0);
    if (whole) store.ExpectWholeReads();
    const cfgkit::KeyTree& tree = store.tree();
    EXPECT_EQ(2u, tree.SubkeyCount(tree.FindSubkey(tree.Root(), "a")));
    store.ExpectWholeReads();  // once per image
    EXPECT_EQ(1, ops.mappedInWhole);
  }
}

// A block that fails its check while a save writes the key out, when the
// file cannot be read to rebuild it, must not leave holes in what is saved.
TEST_F(SnapshotTest, ASaveNeverWritesOutWhatABrokenImageGave) {
  std::string many;
  for (int i = 0; i < 400; ++i) {
    many += testsupport::Str("v" + std::to_string(i), "text " + std::to_string(i));
  }
  Put(admin, "a", testsupport::Key("big", many));
  LoadAndWriteAll();
  std::string bytes = ReadFile(image);
  bytes.back() ^= 1;  // in the last block, which only writing the key out touches
  WriteFile(image, bytes);
  int reads = 0, failAt = 0;
  ops.beforeRead = [&](const std::string& path) {
    const bool fails = path.ends_with("a.XML") && ++reads == failAt;
    return fails ? cfgkit::Status::IOError("unreadable") : cfgkit::Status::OK();
  };
  cfgkit::Store store = Loaded(0);
  failAt = reads + 2;  // the save reads the file, the rebuild cannot
  SetAndSave(store, {"a"}, "new", "one more");
  EXPECT_EQ(failAt, reads);
  testsupport::KeyFile saved;
  ASSERT_TRUE(testsupport::ReadKeyFile(ReadFile(file), "a", &saved));
  const cfgkit::KeyId big = saved.tree.FindSubkey(saved.top, "big");
  ASSERT_EQ(1u, saved.tree.ValueCount(saved.top));
  ASSERT_EQ(400u, saved.tree.ValueCount(big));
  EXPECT_EQ("text 399", saved.tree.FindValue(big, "v399")->text);
}

// A save leaves an image of every file it wrote, and starts from what the file holds.
TEST_F(SnapshotTest, ASaveLeavesAnImageOfEveryFileItWroteAndWritesWhatTheFileHoldsNow) {
  cfgkit::Store store = Loaded(kHour);
  SetAndSave(store, {"a", "A"}, "w", "saved");
  std::unique_ptr<cfgkit::Snapshot> saved = OpenImage();
  ASSERT_TRUE(saved != nullptr);
  EXPECT_EQ(FileHash(), saved->contentHash());
  // The save stamped the file's time: the next run need not read it...
  EXPECT_TRUE(saved->IsSettled(kHour));
  ops.xmlReads = 0;
  const std::string warm = LoadAndWriteAll(kHour);
  EXPECT_TRUE(Has(warm, ">saved<"));
  EXPECT_EQ(0, ops.xmlReads);
  // A corrupt block of it is rebuilt from the file as the reader makes it.
  ReplaceIn(image, "saved", "Saved");
  EXPECT_EQ(warm, LoadAndWriteAll(kHour));
  EXPECT_EQ(1, ops.xmlReads);
  // ...and an edit at once, at the same size and within the same clock tick, is seen.
  ReplaceIn(file, "saved", "SAVED");
  EXPECT_TRUE(Has(LoadAndWriteAll(kHour), ">SAVED<"));
  // An edit through a shared mapping may keep the file's identity: a save then
  // starts from the bytes on disk, never from the image.
  ops.kept = {file, IdentityOfFile()};
  cfgkit::Store kept = Loaded(0);
  ReplaceIn(file, "one", "ONE");
  SetAndSave(kept, {"a", "C"}, "w", "two");
  EXPECT_TRUE(Has(ReadFile(file), ">ONE<") && Has(ReadFile(file), ">two<")) << ReadFile(file);
}

// The cache copies private settings and answers in place of the XML: it is
// this user's alone, or it is not used.
TEST_F(SnapshotTest, TheCacheIsPrivateAndOnlyAPrivateCacheIsUsed) {
  const std::string cold = LoadAndWriteAll();
  EXPECT_EQ(0700u, ModeOf(cache));
  EXPECT_EQ(0600u, ModeOf(image));
  const FileIdentity identity = IdentityOfFile();
  auto forgedImageIsUsed = [&] {
    return UsesForgedImage(identity, FileHash(), identity.changedNs + kHour);
  };
  ASSERT_TRUE(forgedImageIsUsed());
  ::chmod(image.c_str(), 0620);
  EXPECT_EQ(cold, LoadAndWriteAll());
  ::chmod(cache.c_str(), 0770);
  EXPECT_FALSE(forgedImageIsUsed());
  ::chmod(cache.c_str(), 0700);
  // A temporary file is created afresh, never through a link planted at its name.
  const std::string victim = root + "/victim", planted = cache + "/.planted.tmp.1.0";
  WriteFile(victim, "root only");
  ASSERT_EQ(0, ::symlink(victim.c_str(), planted.c_str()));
  int fd = -1;
  EXPECT_FALSE(ops.CreateTemp(planted, &fd).ok());
  EXPECT_EQ("root only", ReadFile(victim));
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the cache to another user";
  ASSERT_EQ(0, ::chown(cache.c_str(), 65534, 65534));
  EXPECT_FALSE(forgedImageIsUsed());
  // Nothing is created inside another user's folder.
  fs::remove_all(cache);
  const std::string foreignHome = root + "/home";
  fs::create_directory(foreignHome);
  ASSERT_EQ(0, ::chown(foreignHome.c_str(), 65534, 65534));
  EXPECT_FALSE(cfgkit::SnapshotCache::Prepare(ops, foreignHome + "/.cache/setwise").has_value());
  EXPECT_FALSE(fs::exists(foreignHome + "/.cache"));
}

TEST_F(SnapshotTest, FaultyImagesAndAnUnusableCacheCostNothingButSpeed) {
  const std::string cold = LoadAndWriteAll();
  for (const char* call :
       {"CreateTemp", "Write", "Sync", "Rename", "SyncDir", "ReadAt", "WriteAt"}) {
    SCOPED_TRACE(call);
    fs::remove_all(cache);
    testsupport::FaultyFileOps faulty(call, testsupport::FaultyFileOps::Full(), true);
    for (int run = 0; run < 2; ++run) {
      cfgkit::Store store(faulty, nullptr, cfgkit::StoreOptions{cache, 0});
      ASSERT_TRUE(store.Load(admin, user).ok());
      EXPECT_EQ(cold, cfgkit::SerializeKey(store.tree(), store.Find(store.tree().Root(), {"a"})));
    }
    EXPECT_EQ(std::vector<std::string>{}, Leftovers({cache}));
  }
  fs::remove_all(cache);
  WriteFile(cache, "a file where the cache folder should be");
  EXPECT_EQ(cold, LoadAndWriteAll());
}

TEST_F(SnapshotTest, ANewImageClearsAwayImagesOfFilesThatAreGone) {
  Put(admin, "b", "<value name='w' type='string'>b</value>");
  LoadAndWriteAll();
  const std::string imageOfB = Cache().PathFor(admin + "/b.XML");
  ASSERT_EQ(0, ::access(imageOfB.c_str(), F_OK));
  fs::remove(admin + "/b.XML");
  const std::string imageName = fs::path(image).filename();
  const std::string garbage = cache + "/0123456789abcdef.snap",
                    fifo = cache + "/fedcba9876543210.snap",
                    fresh = cache + "/." + imageName + ".tmp.1.0",
                    stale = cache + "/." + imageName + ".tmp.2.0";
  WriteFile(garbage, "not an image");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));  // must not hang a run
  WriteFile(fresh, "a writer at work"), WriteFile(stale, "a writer that died");
  fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));
  LoadAndWriteAll();  // no new image: nothing is cleared
  EXPECT_EQ(0, ::access(imageOfB.c_str(), F_OK));
  Put(admin, "c", "");
  LoadAndWriteAll();
  for (const std::string& gone : {imageOfB, garbage, stale, fifo}) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
  }
  for (const std::string& kept : {image, fresh, Cache().PathFor(admin + "/c.XML")}) {
    EXPECT_EQ(0, ::access(kept.c_str(), F_OK)) << kept;
  }
}

// A Get finds one key among many siblings without building them; that key is
// the one a later listing of its siblings holds, and it goes with its parent.
TEST(KeyTreeImageTest, AKeyFoundAloneIsTheKeyItsSiblingsListAndDiesWithTheirParent) {
  std::string siblings;
  for (int i = 0; i < 40; ++i) {
    siblings += testsupport::Key("k" + std::to_string(i), testsupport::Int("v", i));
  }
  const std::pair<std::vector<std::string>, bool> cases[] = {
      // {look-ups, list before removing}
      {{"k7"}, true},       {{"k7"}, false},        {{"K7", "k7"}, true},
      {{"k7", "k7"}, true}, {{"k39", "k0"}, false}, {{"none", "k12"}, true},
  };
  for (const auto& [lookUps, listBeforeRemoving] : cases) {
    SCOPED_TRACE(lookUps.front() + (listBeforeRemoving ? " listed" : ""));
    testsupport::KeyFile file;
    ASSERT_TRUE(
        testsupport::ReadKeyFile(StoreFile("a", testsupport::Key("p", siblings)), "a", &file));
    cfgkit::KeyTree& tree = file.tree;
    const cfgkit::KeyId parent = tree.FindSubkey(file.top, "p");
    std::vector<cfgkit::KeyId> found;
    for (const std::string& name : lookUps) {
      const cfgkit::KeyId key = tree.FindSubkey(parent, name);
      const bool exists = name.size() > 1 && name[0] == 'k';
      ASSERT_EQ(exists, key != cfgkit::kNoKey) << name;
      if (!exists) continue;
      EXPECT_EQ(name, tree.Name(key));
      EXPECT_EQ(std::stoi(name.substr(1)), static_cast<int>(tree.FindValue(key, "v")->number));
      found.push_back(key);
    }
    if (listBeforeRemoving) {
      ASSERT_EQ(40u, tree.SubkeyCount(parent));
      for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ("k" + std::to_string(i), tree.Name(tree.SubkeyAt(parent, i)));
      }
      for (cfgkit::KeyId key : found) {
        EXPECT_EQ(key, tree.SubkeyAt(parent, std::stoi(tree.Name(key).substr(1))));
      }
    }
    tree.RemoveKey(parent);
    for (cfgkit::KeyId key : found) EXPECT_FALSE(tree.IsLive(key));
  }
}

}  // namespace
}  // namespace cfgtest
