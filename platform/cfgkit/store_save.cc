// Saving the store: locking the folders, catching up with files that other
// processes saved meanwhile, and replacing the changed files.
#include <algorithm>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>

#include "cfgkit/store.h"
#include "cfgkit/xml_codec.h"
#include "fsio/atomic_replace.h"
#include "fsio/content_hash.h"

namespace cfgkit {
namespace {

using fsio::JoinPath;

// When an image made by a save counts as made: long after any change.
constexpr int64_t kSettledBySave = INT64_MAX;

// A temporary or backup file that a save of a store file left behind.
bool IsLeftoverOfStoreSave(const std::string& name) {
  return fsio::IsLeftoverOfReplace(name) &&
         name.find(std::string(kStoreFileExtension) + ".") != std::string::npos;
}

// Whether the lock of the folder `dir` can be taken: a lock file already
// there must be a plain file, which the lock opens without following a link.
Status ForeseeLock(FileOps& ops, const std::string& dir) {
  const std::string path = JoinPath(dir, kLockFileName);
  FileIdentity lock;
  Status status = ops.Stat(path, &lock, /*followLinks=*/false);
  if (status.ok() && lock.exists && lock.kind != FileIdentity::Kind::kRegular) {
    return Status::IOError(path + ": not a regular file");
  }
  return status.ok() ? fsio::ForeseeReplace(ops, path) : status;
}

}  // namespace

Status Store::FilesToSave(std::vector<TopLevelFile*>* changed, std::set<std::string>* dirs) {
  for (TopLevelFile& file : files_) {
    if (!file.dirty || file.damaged) continue;
    // A key created and deleted again before any save has nothing on disk.
    if (file.deleted && file.sourceDir.empty()) continue;
    changed->push_back(&file);
    dirs->insert(file.deleted ? file.sourceDir : file.homeDir);
  }
  for (const std::string& dir : *dirs) {
    // Its files are unknown: a new file could replace one that holds values.
    if (IsUnlisted(dir)) return Status::IOError(dir + ": the folder could not be listed");
  }
  return Status::OK();
}

Status Store::ForeseeReplaceFiles(const std::vector<TopLevelFile*>& changed) {
  for (const TopLevelFile* file : changed) {
    const std::string& dir = file->deleted ? file->sourceDir : file->homeDir;
    Status status =
        fsio::ForeseeReplace(ops_, JoinPath(dir, file->name + std::string(kStoreFileExtension)));
    if (!status.ok()) return status;
  }
  return Status::OK();
}

Status Store::ForeseeSave() {
  std::vector<TopLevelFile*> changed;
  std::set<std::string> dirs;
  Status status = FilesToSave(&changed, &dirs);
  for (const std::string& dir : dirs) {
    if (status.ok()) status = ForeseeLock(ops_, dir);
  }
  return status.ok() ? ForeseeReplaceFiles(changed) : status;
}

Status Store::Save() {
  std::vector<TopLevelFile*> changed;
  std::set<std::string> dirs;
  if (Status status = FilesToSave(&changed, &dirs); !status.ok()) return status;

  std::vector<StoreLock> locks;
  std::set<std::pair<uint64_t, uint64_t>> lockedFolders;
  for (const std::string& dir : dirs) {
    // One folder reached by two spellings (a link, "./") takes one lock: a
    // second lock on it would wait for the first.
    FileIdentity folder;
    if (ops_.Stat(dir, &folder).ok() && folder.exists &&
        !lockedFolders.insert({folder.device, folder.inode}).second) {
      continue;
    }
    locks.emplace_back(ops_);
    Status status = locks.back().Acquire(dir);
    if (!status.ok()) return status;
    RemoveLeftovers(dir);
  }
  // What a dry run foresees fails the save before it writes anything: a
  // replacement refused halfway would leave its temporary files behind.
  if (Status status = ForeseeReplaceFiles(changed); !status.ok()) return status;

  std::vector<fsio::StagedFile> staged;
  std::vector<std::string> removals;
  for (TopLevelFile* file : changed) {
    bool loadedFromHome = file->sourceDir.empty() || file->sourceDir == file->homeDir;
    DiskFile disk;
    if (!file->deleted || loadedFromHome) {
      Status status = CatchUpWithDisk(*file, &disk);
      if (!status.ok()) return status;
    }
    if (file->deleted) {
      std::string dir = file->sourceDir.empty() ? file->homeDir : file->sourceDir;
      removals.push_back(JoinPath(dir, file->name + std::string(kStoreFileExtension)));
      continue;
    }
    const size_t sizeHint = file->homeIdentity.size + file->homeIdentity.size / 8;
    std::string bytes = SerializeKey(tree_, tree_.FindSubkey(tree_.Root(), file->name), sizeHint);
    if (file->image != nullptr && file->image->broken()) {
      // Part of the image failed its check while being written out and could
      // not be rebuilt: what it gave is not the file, so start from the file.
      Status status = StartFromDisk(*file, disk);
      if (!status.ok()) return status;
      bytes = SerializeKey(tree_, tree_.FindSubkey(tree_.Root(), file->name), sizeHint);
    }
    file->contentHash = fsio::Hash64(bytes);
    staged.emplace_back(ops_);
    Status status =
        staged.back().Stage(file->homeDir, file->name + std::string(kStoreFileExtension), bytes,
                            fsio::Permissions::kKeepExisting);
    if (!status.ok()) return status;
    file->stampedNs = staged.back().stampedNs();
  }
  Status status = fsio::ReplaceAll(ops_, staged, removals);
  if (!status.ok()) return status;

  std::vector<TopLevelFile*> written;
  for (TopLevelFile& file : files_) {
    if (file.damaged || !file.dirty) continue;
    if (file.deleted) {
      file.sourceDir.clear();
      file.homeIdentity = FileIdentity();
      file.image = nullptr;
    } else {
      file.sourceDir = file.homeDir;
      // Under the lock nobody else has touched the file since it was written.
      ops_.Stat(HomePath(file), &file.homeIdentity).IgnoreError();
      if (file.homeIdentity.exists) written.push_back(&file);
    }
    file.sourceIdentity = file.homeIdentity;
    file.dirty = false;
    file.deleted = false;
    file.changes.clear();
  }
  // Images are a cache: made after the locks are released, so that other
  // writers do not wait for them. One that no longer matches its file, because
  // another save came in between, is simply not used. A file that still bears
  // the time its save stamped holds what was saved, however soon it is read
  // again; otherwise the image counts as made at the file's change, and the
  // next run compares the bytes before trusting it.
  locks.clear();
  for (TopLevelFile* file : written) {
    const bool stampHolds =
        file->stampedNs != 0 && file->homeIdentity.modifiedNs == file->stampedNs;
    WriteSnapshotOf(*file, HomePath(*file), file->homeIdentity,
                    stampHolds ? kSettledBySave : file->homeIdentity.changedNs);
  }
  return Status::OK();
}

void Store::RemoveLeftovers(const std::string& dir) {
  std::vector<std::string> names;
  if (!ops_.ListDir(dir, &names).ok()) return;
  for (const std::string& name : names) {
    // Best effort: a leftover that stays is removed by a later save.
    if (IsLeftoverOfStoreSave(name)) ops_.Remove(JoinPath(dir, name)).IgnoreError();
  }
}

Status Store::CatchUpWithDisk(TopLevelFile& file, DiskFile* disk) {
  // Nothing but the file's current bytes is trusted: an edit in place through
  // a shared mapping may leave its identity as it was.
  disk->path = HomePath(file);
  Status status = ops_.ReadFile(disk->path, &disk->bytes, &disk->identity);
  if (!status.ok() && !status.IsNotFound()) return status;
  disk->exists = status.ok();
  const bool current = disk->exists == file.homeIdentity.exists &&
                       (!disk->exists || fsio::Hash64(disk->bytes) == file.contentHash);
  if (current && !(file.image != nullptr && file.image->broken())) return Status::OK();
  return StartFromDisk(file, *disk);
}

bool Store::ReadBrokenImagesAgain(
    const std::function<void(const std::function<KeyId(KeyId)>&)>& move) {
  // A miss costs one comparison unless an image broke since the last look.
  if (Snapshot::BreakCount() == breaksSeen_) return false;
  breaksSeen_ = Snapshot::BreakCount();
  std::vector<TopLevelFile*> broken;
  for (TopLevelFile& file : files_) {
    if (file.image != nullptr && file.image->broken() && !file.sourceDir.empty()) {
      broken.push_back(&file);
    }
  }
  if (broken.empty()) return false;
  std::unordered_map<KeyId, std::vector<std::string>> paths;
  std::vector<KeyId> tops;
  for (TopLevelFile* file : broken) tops.push_back(tree_.FindSubkey(tree_.Root(), file->name));
  move([&](KeyId key) {
    if (key != tree_.Root() && tree_.IsLive(key) &&
        std::find(tops.begin(), tops.end(), tree_.TopLevelOf(key)) != tops.end()) {
      paths.emplace(key, PathOf(key));
    }
    return key;
  });
  for (TopLevelFile* file : broken) {
    DiskFile disk;
    disk.path = JoinPath(file->sourceDir, file->name + std::string(kStoreFileExtension));
    Status status = ops_.ReadFile(disk.path, &disk.bytes, &disk.identity);
    disk.exists = status.ok();
    const FileIdentity home = file->homeIdentity;
    if (status.ok() || status.IsNotFound()) status = StartFromDisk(*file, disk);
    if (file->sourceDir != file->homeDir) file->homeIdentity = home;
    if (!status.ok()) {
      KeyId top = tree_.FindSubkey(tree_.Root(), file->name);
      if (top != kNoKey) tree_.RemoveKey(top);
      file->image = nullptr;
      ProtectDamaged(*file, disk.path, status);
    }
  }
  move([&](KeyId key) {
    auto found = paths.find(key);
    if (found == paths.end()) return key;
    std::vector<std::string_view> components(found->second.begin(), found->second.end());
    // A key the file no longer holds keeps its dead id: its handle is stale.
    KeyId again = Find(tree_.Root(), components);
    return again == kNoKey ? key : again;
  });
  return true;
}

Status Store::StartFromDisk(TopLevelFile& file, const DiskFile& disk) {
  std::unique_ptr<Snapshot> image;
  if (disk.exists) {
    // Read it before giving up our own version of the key.
    std::string bytes = disk.bytes;
    ImageBody body;
    Status status = ParseKeyFile(&bytes, file.name, &body);
    if (!status.ok()) return Status::Corruption(disk.path + ": " + status.message());
    image =
        Snapshot::InMemory(ops_, SealImage(body, disk.path, disk.identity, fsio::Hash64(disk.bytes),
                                           0, KeepsNameOrder(file.name)));
  }
  KeyId old = tree_.FindSubkey(tree_.Root(), file.name);
  if (old != kNoKey) tree_.RemoveKey(old);
  if (image) {
    ReadKeyFrom(file, std::move(image));
  } else {
    tree_.AddSubkey(tree_.Root(), file.name);
    file.image = nullptr;
  }
  file.homeIdentity = disk.identity;
  ReplayChanges(file);
  return Status::OK();
}

void Store::ReplayChanges(TopLevelFile& file) {
  for (const Change& change : file.changes) {
    std::vector<std::string_view> components(change.path.begin(), change.path.end());
    bool created = false;
    switch (change.kind) {
      case Change::Kind::kCreateKey:
        EnsurePath(tree_.Root(), components, &created);
        file.deleted = false;
        break;
      case Change::Kind::kSetValue:
        tree_.SetValue(EnsurePath(tree_.Root(), components, &created), change.value);
        file.deleted = false;
        break;
      case Change::Kind::kDeleteValue:
        if (KeyId key = Find(tree_.Root(), components); key != kNoKey) {
          tree_.RemoveValue(key, change.value.name);
        }
        break;
      case Change::Kind::kDeleteKey:
        if (KeyId key = Find(tree_.Root(), components); key != kNoKey) {
          if (tree_.Parent(key) == tree_.Root()) file.deleted = true;
          tree_.RemoveKey(key);
        }
        break;
    }
  }
}

}  // namespace cfgkit
