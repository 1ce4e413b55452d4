// Compiled snapshot images stand in for parsing only when they describe the
// very file on disk; anything else costs speed and nothing more.
#include "cfgkit/snapshot.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "cfgkit/content_hash.h"
#include "cfgkit/store.h"
#include "cfgkit/xml_codec.h"
#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::FileIdentity;

class SnapshotTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    Put(admin, "a",
        "<value name='v' type='string'>one</value><value name='n' type='int'>-7</value>"
        "<key name='A'><key name='B'><value name='' type='string'>deep</value></key></key>"
        "<key name='C'/>");
    cache = root + "/cache", file = admin + "/a.XML", image = cfgkit::SnapshotPathFor(cache, file);
  }
  // Every top-level key as the writer would write it: what a run sees.
  std::string LoadAndWriteAll(int64_t racyWindowNs = 0) {
    cfgkit::Store store(cfgkit::PosixFileOps(),
                        [](int level, const std::string& line) { logs.emplace_back(level, line); });
    store.UseSnapshots(cache, racyWindowNs);
    EXPECT_TRUE(store.Load(admin, user).ok());
    std::string all;
    const cfgkit::KeyTree& tree = store.tree();
    for (size_t i = 0; i < tree.SubkeyCount(tree.Root()); ++i) {
      all += cfgkit::SerializeKey(tree, tree.SubkeyAt(tree.Root(), i));
    }
    return all;
  }
  // Writes an image of the file's content with "deep" changed to "DEEP", so a
  // load shows whether it read the image; it claims `identity` and `hash`.
  void ForgeImage(const FileIdentity& identity, uint64_t hash, int64_t createdNs,
                  const std::string& source) {
    cfgkit::KeyTree tree;
    std::string bytes = ReadBytes(file);
    bytes.replace(bytes.find("deep"), 4, "DEEP");
    ASSERT_TRUE(cfgkit::ParseKeyFile(&bytes, "a", &tree).ok());
    cfgkit::WriteSnapshot(image, cfgkit::BuildSnapshot(tree, tree.FindSubkey(tree.Root(), "a"),
                                                       source, identity, hash, createdNs));
  }
  FileIdentity IdentityOfFile() {
    FileIdentity identity;
    EXPECT_TRUE(cfgkit::PosixFileOps().Stat(file, &identity).ok());
    return identity;
  }
  std::string cache, file, image;
};

TEST_F(SnapshotTest, AWarmLoadSeesExactlyWhatAColdLoadSees) {
  Put(user, "user", "<value name='u' type='string' encoding='hex'>0d0a</value>");
  const std::string cold = LoadAndWriteAll();
  ASSERT_EQ(0, ::access(image.c_str(), R_OK));
  EXPECT_EQ(cold, LoadAndWriteAll());
  // The warm load really read the image: a text changed there shows.
  std::string bytes = ReadBytes(image);
  WriteBytes(image, bytes.replace(bytes.find("deep"), 4, "DEEP"));
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">DEEP<"));
}

TEST_F(SnapshotTest, AnImageIsUsedOnlyForTheVeryFileItWasMadeFrom) {
  const FileIdentity identity = IdentityOfFile();
  const int64_t settled = identity.changedNs + 1;
  auto used = [&](const FileIdentity& claimed, const std::string& source) {
    ForgeImage(claimed, 0, settled, source);
    return LoadAndWriteAll().find("DEEP") != std::string::npos;
  };
  EXPECT_TRUE(used(identity, file));
  EXPECT_FALSE(used(identity, admin + "/b.XML"));
  FileIdentity changed[] = {identity, identity, identity, identity, identity};
  changed[0].size++, changed[1].inode++, changed[2].device++;
  changed[3].modifiedNs--, changed[4].changedNs--;
  for (const FileIdentity& other : changed) EXPECT_FALSE(used(other, file));
}

// A file edited again within the clock tick of its last change keeps its
// identity; only its bytes tell.
TEST_F(SnapshotTest, AnImageMadeSoonAfterItsFileChangedIsUsedOnlyWhenTheBytesMatch) {
  const FileIdentity identity = IdentityOfFile();
  const uint64_t fileHash = cfgkit::ContentHash(ReadBytes(file));
  const int64_t hour = 3600 * 1000000000LL;
  ForgeImage(identity, fileHash + 1, identity.changedNs, file);
  EXPECT_EQ(std::string::npos, LoadAndWriteAll(hour).find("DEEP"));
  ForgeImage(identity, fileHash, identity.changedNs, file);
  const std::string forged = ReadBytes(image);
  // Nor when the image's own body is not what it was made with.
  std::string cut = forged;
  WriteBytes(image, cut.replace(cut.find("DEEP"), 4, "DEEq"));
  EXPECT_EQ(std::string::npos, LoadAndWriteAll(hour).find("DEE"));
  WriteBytes(image, forged);
  EXPECT_NE(std::string::npos, LoadAndWriteAll(hour).find("DEEP"));
  // Still within the window: the next run compares again.
  EXPECT_FALSE(cfgkit::Snapshot::Open(image, file, identity)->IsSettled(hour));
  // Past it, a match is recorded, and later runs trust the identity alone.
  EXPECT_NE(std::string::npos, LoadAndWriteAll(0).find("DEEP"));
  ASSERT_TRUE(cfgkit::Snapshot::Open(image, file, identity) != nullptr);
  EXPECT_TRUE(cfgkit::Snapshot::Open(image, file, identity)->IsSettled(1000));
}

TEST_F(SnapshotTest, ASaveLeavesAnImageOfEveryFileItWrote) {
  const int64_t hour = 3600 * 1000000000LL;
  cfgkit::Store store(cfgkit::PosixFileOps(), nullptr);
  store.UseSnapshots(cache, hour);
  ASSERT_TRUE(store.Load(admin, user).ok());
  std::vector<std::string_view> path{"a", "A"};
  cfgkit::Store::CreateError error;
  cfgkit::KeyId key = store.Create(store.tree().Root(), path, &error);
  store.SetValue(key, cfgkit::Value{"w", cfgkit::ValueType::kString, "saved", 0});
  ASSERT_TRUE(store.Save().ok());
  std::unique_ptr<cfgkit::Snapshot> saved = cfgkit::Snapshot::Open(image, file, IdentityOfFile());
  ASSERT_TRUE(saved != nullptr);
  EXPECT_EQ(cfgkit::ContentHash(ReadBytes(file)), saved->contentHash());
  // Someone may have edited the file right after the save: the next run compares bytes.
  EXPECT_FALSE(saved->IsSettled(0));
  EXPECT_NE(std::string::npos, LoadAndWriteAll(hour).find(">saved<"));
}

TEST_F(SnapshotTest, ASaveNeverWritesOutWhatADamagedImageHolds) {
  LoadAndWriteAll();
  std::string bytes = ReadBytes(image);
  WriteBytes(image, bytes.replace(bytes.find("deep"), 4, "DEEP"));
  cfgkit::Store store(cfgkit::PosixFileOps(), nullptr);
  store.UseSnapshots(cache, 0);
  ASSERT_TRUE(store.Load(admin, user).ok());
  cfgkit::Store::CreateError error;
  cfgkit::KeyId key = store.Create(store.tree().Root(), {"a"}, &error);
  store.SetValue(key, cfgkit::Value{"v", cfgkit::ValueType::kString, "two", 0});
  ASSERT_TRUE(store.Save().ok());
  const std::string saved = ReadBytes(file);
  EXPECT_NE(std::string::npos, saved.find(">deep<"));
  EXPECT_NE(std::string::npos, saved.find(">two<"));
}

// An image counts as made when its file was read, not when the slow parse
// that followed ended: the file may have changed in between, unseen.
TEST_F(SnapshotTest, AnImageCountsAsMadeWhenItsFileWasRead) {
  struct SlowReads : cfgkit::FileOpsWrapper {
    using FileOpsWrapper::FileOpsWrapper;
    cfgkit::Status ReadFile(const std::string& path, std::string* contents,
                            FileIdentity* identity) override {
      cfgkit::Status status = FileOpsWrapper::ReadFile(path, contents, identity);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      return status;
    }
  } slow(cfgkit::PosixFileOps());
  const int64_t window = 1000 * 1000000LL;  // far more than the file's age when it is read
  cfgkit::Store store(slow, nullptr);
  store.UseSnapshots(cache, window);
  ASSERT_TRUE(store.Load(admin, user).ok());
  std::unique_ptr<cfgkit::Snapshot> made = cfgkit::Snapshot::Open(image, file, IdentityOfFile());
  ASSERT_TRUE(made != nullptr);
  EXPECT_FALSE(made->IsSettled(window));
}

TEST_F(SnapshotTest, EditedAndReplacedFilesAreReadAgain) {
  LoadAndWriteAll();
  // Edited in place at the same size, then replaced by a rename at another size.
  WriteBytes(file, ReadBytes(file).replace(ReadBytes(file).find("one"), 3, "two"));
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">two<"));
  WriteBytes(admin + "/new", StoreFile("a", "<value name='v' type='string'>three</value>"));
  ASSERT_EQ(0, ::rename((admin + "/new").c_str(), file.c_str()));
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">three<"));
}

TEST_F(SnapshotTest, BrokenImagesAndAnUnwritableCacheCostNothingButSpeed) {
  const std::string cold = LoadAndWriteAll(), bytes = ReadBytes(image);
  for (const std::string& broken :
       {bytes.substr(0, bytes.size() - 3), bytes.substr(0, 8) + "\x7f" + bytes.substr(9),
        bytes.substr(0, 24) + char(bytes[24] ^ 1) + bytes.substr(25), std::string()}) {
    WriteBytes(image, broken);
    EXPECT_EQ(cold, LoadAndWriteAll()) << broken.size();
  }
  std::filesystem::remove_all(cache);
  WriteBytes(cache, "a file where the cache folder should be");
  EXPECT_EQ(cold, LoadAndWriteAll());
}

TEST_F(SnapshotTest, ANewImageClearsAwayImagesOfFilesThatAreGone) {
  Put(admin, "b", "<value name='w' type='string'>b</value>");
  LoadAndWriteAll();
  const std::string imageOfB = cfgkit::SnapshotPathFor(cache, admin + "/b.XML");
  ASSERT_EQ(0, ::access(imageOfB.c_str(), F_OK));
  std::filesystem::remove(admin + "/b.XML");
  const std::string garbage = cache + "/0123456789abcdef.snap", fresh = image + ".tmp.1",
                    stale = image + ".tmp.2";
  WriteBytes(garbage, "not an image");
  WriteBytes(fresh, "a writer at work"), WriteBytes(stale, "a writer that died");
  std::filesystem::last_write_time(
      stale, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  LoadAndWriteAll();  // no new image: nothing is cleared
  EXPECT_EQ(0, ::access(imageOfB.c_str(), F_OK));
  Put(admin, "c", "");
  LoadAndWriteAll();
  for (const std::string& gone : {imageOfB, garbage, stale}) {
    EXPECT_NE(0, ::access(gone.c_str(), F_OK)) << gone;
  }
  for (const std::string& kept : {image, fresh, cfgkit::SnapshotPathFor(cache, admin + "/c.XML")}) {
    EXPECT_EQ(0, ::access(kept.c_str(), F_OK)) << kept;
  }
}

TEST_F(SnapshotTest, ADamagedFileBehindAnImageIsReportedAndProtected) {
  LoadAndWriteAll();
  WriteBytes(file, "<key name='a'><broken>");
  logs.clear();
  EXPECT_EQ("", LoadAndWriteAll());
  ASSERT_EQ(1u, logs.size());
  EXPECT_NE(std::string::npos, logs[0].second.find(file));
}

}  // namespace
}  // namespace cfgtest
