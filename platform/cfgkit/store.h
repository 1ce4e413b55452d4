// The loaded configuration store: the key tree of every store file of the
// admin and user folders, which files are damaged, what changed, and saving.
//
// One file per top-level key K, "K.XML". The keys "user" and "*_user" belong
// in the user folder, every other key in the admin folder; a key found in its
// home folder wins over a copy in the other folder, which is never written.
// A damaged file is not loaded and its key is protected: it is never created,
// written or saved over. Not thread-safe.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cfgkit/change_log.h"
#include "cfgkit/file_ops.h"
#include "cfgkit/key_tree.h"
#include "cfgkit/snapshot.h"
#include "cfgkit/snapshot_cache.h"
#include "cfgkit/store_lock.h"
#include "cfgkit/store_options.h"

namespace cfgkit {

// The extension of store files: the key K lives in "K.XML".
inline constexpr std::string_view kStoreFileExtension = ".XML";

// Receives the store's diagnostics (damaged files) with a debug level.
using LogSink = std::function<void(int level, const std::string& line)>;

class Store {
 public:
  // `ops` must outlive the store.
  Store(FileOps& ops, LogSink log, StoreOptions options = {});

  // Loads every store file of both folders ('\' or '/' separators; a missing
  // folder is empty; equal folders are read once). Damaged and unreadable
  // files are reported and skipped, and so is a folder that exists but cannot
  // be listed (see unlistedFolders()): nothing is saved into it. Non-OK only
  // when no folder could be listed.
  Status Load(std::string_view adminDir, std::string_view userDir);

  const KeyTree& tree() const { return tree_; }

  // The key at `components` below `parent`, or kNoKey.
  KeyId Find(KeyId parent, const std::vector<std::string_view>& components);
  // The subkey of `parent` called `name`, or kNoKey.
  KeyId FindSubkey(KeyId parent, std::string_view name);

  // Why a key cannot be created.
  enum class CreateError { kNone, kProtected, kTooDeep, kBadTopLevelName };

  // Opens the key at `components` below `parent`, creating what is missing.
  // REQUIRES: `components` is not empty when `parent` is the root.
  KeyId Create(KeyId parent, const std::vector<std::string_view>& components, CreateError* error);

  // Adds or replaces a value of `key`. REQUIRES: `key` is live, not the root.
  void SetValue(KeyId key, Value value);

  // False when `key` has no value called `name`.
  bool DeleteValue(KeyId key, std::string_view name);

  // Deletes `key` with everything below it. REQUIRES: live, not the root.
  void DeleteKey(KeyId key);

  // Whether the top-level key `name` comes from a damaged file.
  bool IsProtected(std::string_view name);

  // A store file or folder and what reading it found.
  struct FileReport {
    std::string path;  // empty when neither folder holds the file
    // Corruption: damaged, with the parser's reason at its line and column
    // where it gives one; IOError: it could not be read, with the system's
    // error. Neither message repeats the path.
    Status status;
  };

  // The file of the top-level key `name`, which is read now if it was not
  // yet. Looking for a damaged file's line and column reads it again.
  FileReport ReportFile(std::string_view name);

  // Reads every top-level key whose image broke under a read (a block failed
  // its check and the file, saved again since, no longer rebuilds it) from its
  // file as it is now, replaying this process's changes; `move(key)` is then
  // called with a function that gives each key of such a top-level key the
  // same key read again (kNoKey where there is none). False when no image broke.
  bool ReadBrokenImagesAgain(const std::function<void(const std::function<KeyId(KeyId)>&)>& move);
  // Whether an image broke since the last look: what a miss costs otherwise.
  bool ImagesBrokeUnseen() const { return Snapshot::BreakCount() != breaksSeen_; }

  // The folders the load could not list.
  const std::vector<FileReport>& unlistedFolders() const { return unlistedFolders_; }
  bool IsUnlisted(const std::string& dir) const;

  // Writes the file of every top-level key that changed into the key's home
  // folder, and removes the file of a deleted top-level key. The files are
  // replaced and removed as one change: a failure at any step leaves all old
  // files as they were. Changed keys stay changed when the save fails.
  //
  // Writers in other processes lose nothing: the save holds the lock of each
  // folder it writes (Busy after a few seconds), reads each file again under
  // it, and when its bytes are not those this process loaded (another process
  // saved it, or it was edited in place) applies this process's changes on top
  // of what is there now. Leftovers of saves that died are removed.
  Status Save();

  // The run will read most of every file it reads (a listing): an image is
  // then mapped in whole when first read.
  void ExpectWholeReads();

  // What Save() would meet before it writes anything: a folder it could not
  // list, and a file or folder this user may not replace or create. Changes
  // nothing; a full disk or a lock held too long only the save can tell.
  Status ForeseeSave();

 private:
  struct TopLevelFile {
    std::string name;
    std::string homeDir;
    std::string sourceDir;        // where its file was loaded from; empty for a new key
    FileIdentity homeIdentity;    // of the file in homeDir when loaded or last saved
    FileIdentity sourceIdentity;  // of the file in sourceDir the key was read from
    bool damaged = false;
    Status loadError;  // why a damaged file could not be loaded
    bool dirty = false;
    bool deleted = false;  // its file is to be removed at the next save
    bool unread = false;   // its file is read when the key is first used
    ChangeLog changes;
    uint64_t contentHash = 0;         // of the bytes the key was loaded from or last saved as
    int64_t stampedNs = 0;            // the modification time the running save gave its file
    const Snapshot* image = nullptr;  // where the key's content is read from, if anywhere
  };

  // The changed files a save writes or removes and their folders; an
  // error when one of those folders could not be listed.
  Status FilesToSave(std::vector<TopLevelFile*>* changed, std::set<std::string>* dirs);
  // Whether every file of `changed` may be replaced or removed where it lies.
  Status ForeseeReplaceFiles(const std::vector<TopLevelFile*>& changed);
  void AddFile(std::string name);
  std::string HomePath(const TopLevelFile& file) const;
  KeyId EnsurePath(KeyId parent, const std::vector<std::string_view>& components, bool* created);
  void RemoveLeftovers(const std::string& dir);
  // A store file's bytes as a save read them under the lock.
  struct DiskFile {
    std::string path;
    bool exists = false;
    std::string bytes;
    FileIdentity identity;
  };
  // Reads the file into `*disk` and, when its bytes are not those this
  // process loaded (or its image broke), starts from them.
  Status CatchUpWithDisk(TopLevelFile& file, DiskFile* disk);
  // Replaces the key by the file's content and replays this process's changes.
  Status StartFromDisk(TopLevelFile& file, const DiskFile& disk);
  void ReplayChanges(TopLevelFile& file);
  TopLevelFile* FileOf(std::string_view name);
  TopLevelFile& FileOfKey(KeyId key);
  std::string HomeDir(std::string_view keyName) const;
  std::vector<std::string> PathOf(KeyId key) const;
  void Record(KeyId key, Change::Kind kind, Value value);
  // Reads the key of `file` from its image or else from its XML, which is
  // parsed into a new image; a damaged file is reported and protected.
  void LoadFile(TopLevelFile& file);
  void LoadFileContent(TopLevelFile& file);
  void ProtectDamaged(TopLevelFile& file, const std::string& path, const Status& status);
  // Reads the file of the top-level key `name` if it is known and not read yet.
  void ReadIfUnread(std::string_view name);

  // A store file as read from disk, when it had to be read.
  struct SourceFile {
    bool read = false;
    int64_t readStartNs = 0;  // the bytes are no older than this
    Status status;
    std::string bytes;
    FileIdentity identity;
  };
  bool LoadFromSnapshot(TopLevelFile& file, const std::string& path, SourceFile* source);
  // Adds the top-level key of `file`, read from `image`, which the store keeps.
  void ReadKeyFrom(TopLevelFile& file, std::unique_ptr<Snapshot> image);
  // `settledNs`: a time no later than when the bytes the tree holds were read.
  void WriteSnapshotOf(const TopLevelFile& file, const std::string& path,
                       const FileIdentity& identity, int64_t settledNs);
  bool HasReliableTimes(const std::string& dir);
  bool KeepsNameOrder(std::string_view topKey) const {
    return options_.keepsNameOrder != nullptr && options_.keepsNameOrder(topKey);
  }

  FileOps& ops_;
  LogSink log_;
  StoreOptions options_;
  std::optional<SnapshotCache> cache_;
  std::map<std::string, bool> reliableTimes_;      // by folder
  std::vector<std::unique_ptr<Snapshot>> images_;  // the tree reads from these
  bool wholeReads_ = false;
  std::string adminDir_;
  std::string userDir_;
  KeyTree tree_;
  std::vector<TopLevelFile> files_;
  std::vector<FileReport> unlistedFolders_;
  uint64_t breaksSeen_ = 0;  // Snapshot::BreakCount() at the last look for broken images
  std::unordered_map<std::string, size_t> fileIndex_;
};

}  // namespace cfgkit
