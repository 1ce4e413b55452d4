// Compiled snapshot images stand in for parsing only when they describe the
// very file on disk; anything else costs speed and nothing more.
#include <time.h>

#include <filesystem>

#include "cfgkit/snapshot.h"
#include "cfgkit/store.h"
#include "cfgkit/xml_codec.h"
#include "test_util.h"

namespace cfgtest {
namespace {

using cfgkit::FileIdentity;
using cfgkit::Snapshot;

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

class SnapshotTest : public StoreTest {
 protected:
  // Every top-level key as the writer would write it: what a run sees.
  std::string LoadAndWriteAll(int64_t racyWindowNs = 0) {
    cfgkit::Store store(cfgkit::PosixFileOps(), [this](int level, const std::string& line) {
      logs().emplace_back(level, line);
    });
    store.UseSnapshots(cache(), racyWindowNs);
    EXPECT_TRUE(store.Load(admin, user).ok());
    std::string all;
    const cfgkit::KeyTree& tree = store.tree();
    for (size_t i = 0; i < tree.SubkeyCount(tree.Root()); ++i) {
      tree.LoadAll(tree.SubkeyAt(tree.Root(), i));
      all += cfgkit::SerializeKey(tree, tree.SubkeyAt(tree.Root(), i));
    }
    return all;
  }
  std::string cache() const { return root + "/cache"; }
  std::string ImageOf(const std::string& path) const {
    return cfgkit::SnapshotPathFor(cache(), path);
  }
  FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    EXPECT_TRUE(cfgkit::PosixFileOps().Stat(path, &identity).ok());
    return identity;
  }
};

const char kBody[] =
    "<value name='v' type='string'>one</value><value name='n' type='int'>-7</value>"
    "<key name='A'><key name='B'><value name='' type='string'>deep</value></key></key>"
    "<key name='C'/>";

TEST_F(SnapshotTest, AWarmLoadSeesExactlyWhatAColdLoadSees) {
  Put(admin, "a", kBody);
  Put(user, "user", "<value name='u' type='string' encoding='hex'>0d0a</value>");
  const std::string cold = LoadAndWriteAll();
  ASSERT_EQ(0, ::access(ImageOf(admin + "/a.XML").c_str(), R_OK));
  std::string warm = LoadAndWriteAll();
  EXPECT_EQ(cold, warm);
  // The warm load really read the image: a text changed there shows.
  std::string image = ReadBytes(ImageOf(admin + "/a.XML"));
  image.replace(image.find("deep"), 4, "DEEP");
  WriteBytes(ImageOf(admin + "/a.XML"), image);
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">DEEP<"));
  // Deleting every image changes nothing but speed.
  std::filesystem::remove_all(cache());
  EXPECT_EQ(cold, LoadAndWriteAll());
}

TEST_F(SnapshotTest, AnImageIsTrustedOnlyForTheVeryFileLongEnoughAfterItsLastChange) {
  Put(admin, "a", kBody);
  const std::string path = admin + "/a.XML";
  cfgkit::KeyTree tree;
  std::string bytes = ReadBytes(path);
  ASSERT_TRUE(cfgkit::ParseKeyFile(&bytes, "a", &tree).ok());
  const FileIdentity identity = IdentityOf(path);
  const int64_t window = 2000000000;
  auto opens = [&](const FileIdentity& claimed, int64_t createdNs, const std::string& source) {
    const std::string image = cfgkit::BuildSnapshot(
        tree, tree.FindSubkey(tree.Root(), "a"), source, claimed, createdNs);
    cfgkit::WriteSnapshot(ImageOf(path), image);
    return Snapshot::Open(ImageOf(path), path, identity, window) != nullptr;
  };
  EXPECT_TRUE(opens(identity, identity.changedNs + window + 1, path));
  // Made within the same clock tick as the file's change: a later edit could look identical.
  EXPECT_FALSE(opens(identity, identity.changedNs + window, path));
  EXPECT_FALSE(opens(identity, identity.changedNs, path));
  for (auto change : {&FileIdentity::size, &FileIdentity::inode, &FileIdentity::device}) {
    FileIdentity other = identity;
    other.*change += 1;
    EXPECT_FALSE(opens(other, identity.changedNs + window + 1, path));
  }
  for (auto change : {&FileIdentity::modifiedNs, &FileIdentity::changedNs}) {
    FileIdentity other = identity;
    other.*change -= 1;
    EXPECT_FALSE(opens(other, identity.changedNs + window + 1, path));
  }
  EXPECT_FALSE(opens(identity, identity.changedNs + window + 1, admin + "/b.XML"));
}

TEST_F(SnapshotTest, EditedAndReplacedFilesAreReadAgain) {
  Put(admin, "a", "<value name='v' type='string'>one</value>");
  LoadAndWriteAll();
  // Same size, edited in place.
  WriteBytes(admin + "/a.XML", StoreFile("a", "<value name='v' type='string'>two</value>"));
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">two<"));
  // Other size, replaced by a rename.
  WriteBytes(admin + "/new", StoreFile("a", "<value name='v' type='string'>three</value>"));
  ASSERT_EQ(0, ::rename((admin + "/new").c_str(), (admin + "/a.XML").c_str()));
  EXPECT_NE(std::string::npos, LoadAndWriteAll().find(">three<"));
}

TEST_F(SnapshotTest, BrokenImagesAndAnUnwritableCacheCostNothingButSpeed) {
  Put(admin, "a", kBody);
  const std::string cold = LoadAndWriteAll();
  const std::string image = ReadBytes(ImageOf(admin + "/a.XML"));
  const std::pair<const char*, std::string> broken[] = {
      {"truncated", image.substr(0, image.size() - 3)},
      {"header only", image.substr(0, 64)},
      {"other version", image.substr(0, 8) + "\x7f" + image.substr(9)},
      {"flipped header byte", image.substr(0, 24) + char(image[24] ^ 1) + image.substr(25)},
      {"garbage", std::string(image.size(), 'x')},
      {"empty", ""},
  };
  for (const auto& [kind, bytes] : broken) {
    WriteBytes(ImageOf(admin + "/a.XML"), bytes);
    EXPECT_EQ(cold, LoadAndWriteAll()) << kind;
  }
  std::filesystem::remove_all(cache());
  WriteBytes(cache(), "a file where the cache folder should be");
  EXPECT_EQ(cold, LoadAndWriteAll());
}

TEST_F(SnapshotTest, ADamagedFileBehindAnImageIsReportedAndProtected) {
  Put(admin, "a", kBody);
  LoadAndWriteAll();
  WriteBytes(admin + "/a.XML", "<key name='a'><broken>");
  logs().clear();
  EXPECT_EQ("", LoadAndWriteAll());
  ASSERT_EQ(1u, logs().size());
  EXPECT_NE(std::string::npos, logs()[0].second.find(admin + "/a.XML"));
}

TEST_F(SnapshotTest, FreshFilesGetNoImageUntilTheyAreOldEnough) {
  Put(admin, "a", kBody);
  LoadAndWriteAll(NowNs());
  EXPECT_NE(0, ::access(ImageOf(admin + "/a.XML").c_str(), F_OK));
}

}  // namespace
}  // namespace cfgtest
