// A compiled image of one store file: its key tree with every name and value,
// laid out so that it can be mapped and read in place on the next run instead
// of parsing the XML again. The XML file stays the only truth: an image is
// used only when it provably describes the very file on disk.
//
// Layout: a fixed header, the keys in breadth-first order (so each key's
// subkeys are one contiguous run after it), the values grouped by key, and a
// pool of name and text bytes. Opening checks the header (with its checksum)
// and the exact size, so a truncated, stray or other-version image is never
// used; records are checked when they are read, not all at open, so that a
// run pays only for what it reads. A record out of range is left out rather
// than followed.
//
// An image made within a clock tick or two of its file's last change cannot
// prove by timestamps that the file was not edited again in that tick (the
// "racily clean" case), so it also records a digest of the file's bytes; such
// an image is used only after the file is read and found to match it, and is
// then marked settled so that later runs need not read the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cfgkit/file_ops.h"
#include "cfgkit/key_tree.h"

namespace cfgkit {

struct SnapshotKey {
  uint32_t nameOffset, nameLength;
  uint32_t firstSubkey, subkeyCount;
  uint32_t firstValue, valueCount;
};

struct SnapshotValue {
  uint32_t nameOffset, nameLength;
  uint32_t type, number;
  uint32_t textOffset, textLength;
};

class Snapshot {
 public:
  // Maps the image at `imagePath` when it was made from the file
  // `sourcePath` with `identity`. Null in every other case.
  static std::unique_ptr<Snapshot> Open(const std::string& imagePath, const std::string& sourcePath,
                                        const FileIdentity& identity);

  ~Snapshot();
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  // Whether the image was made (or found to match its file) more than
  // `racyWindowNs` after the file's last change: then a file with the same
  // identity is the same file. Otherwise compare `contentHash()` first.
  bool IsSettled(int64_t racyWindowNs) const { return settledNs_ - changedNs_ > racyWindowNs; }
  uint64_t contentHash() const { return contentHash_; }

  // Whether the records and texts are those the image was made with. Reads
  // do not check (it costs the whole image); a save does, before it writes
  // out what it takes from the image.
  bool BodyIsIntact() const;

  // Records in the image file that its file was found to match it at
  // `verifiedNs`. Best effort: the image is a cache.
  void MarkSettled(int64_t verifiedNs);

  // The key at `index`, or null when there is none.
  const SnapshotKey* Key(uint32_t index) const {
    return index < keyCount_ ? &keys_[index] : nullptr;
  }
  // The value at `index`, or null when there is none or its type is unknown.
  const SnapshotValue* ValueAt(uint32_t index) const;
  // The bytes at `offset`, or empty when they lie outside the pool.
  std::string_view Text(uint32_t offset, uint32_t length) const {
    if (uint64_t{offset} + length > poolSize_) return std::string_view();
    return std::string_view(pool_ + offset, length);
  }

 private:
  Snapshot() = default;

  std::string imagePath_;
  uint64_t imageDevice_ = 0, imageInode_ = 0;
  int64_t changedNs_ = 0, settledNs_ = 0;
  uint64_t contentHash_ = 0;
  uint64_t bodyHash_ = 0;
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  const SnapshotKey* keys_ = nullptr;
  const SnapshotValue* values_ = nullptr;
  const char* pool_ = nullptr;
  uint32_t keyCount_ = 0;
  uint32_t valueCount_ = 0;
  uint32_t poolSize_ = 0;
};

// The image of the top-level key `top` of `tree`, for the file `sourcePath`
// with `identity` and the digest
// `contentHash` of its bytes, made at `createdNs`.
std::string BuildSnapshot(const KeyTree& tree, KeyId top, const std::string& sourcePath,
                          const FileIdentity& identity, uint64_t contentHash, int64_t createdNs);

// Writes `image` to `imagePath` by atomic replacement, flushed before it is
// renamed into place, creating the folder when missing. False on any failure.
bool WriteSnapshot(const std::string& imagePath, const std::string& image);

// Removes from the folder `snapshotDir` the images of files that no longer
// exist, images of other versions or beyond repair, and temporary images
// that writers which died left behind. Best effort.
void PruneSnapshots(const std::string& snapshotDir);

// Where the image of `sourcePath` lives in the folder `snapshotDir`.
std::string SnapshotPathFor(const std::string& snapshotDir, const std::string& sourcePath);

}  // namespace cfgkit
