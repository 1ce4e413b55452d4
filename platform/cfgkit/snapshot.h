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
  // Maps the image at `imagePath` when it was made from exactly the file
  // `sourcePath` with `identity`, at least `racyWindowNs` after that file's
  // last change (a file changed within the same clock tick as the image could
  // differ from it unseen). Null in every other case.
  static std::unique_ptr<Snapshot> Open(const std::string& imagePath, const std::string& sourcePath,
                                        const FileIdentity& identity, int64_t racyWindowNs);

  ~Snapshot();
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

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

  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  const SnapshotKey* keys_ = nullptr;
  const SnapshotValue* values_ = nullptr;
  const char* pool_ = nullptr;
  uint32_t keyCount_ = 0;
  uint32_t valueCount_ = 0;
  uint32_t poolSize_ = 0;
};

// The image of the top-level key `top` of `tree` (which must be fully
// loaded), for the file `sourcePath` with `identity`, made at `createdNs`.
std::string BuildSnapshot(const KeyTree& tree, KeyId top, const std::string& sourcePath,
                          const FileIdentity& identity, int64_t createdNs);

// Writes `image` to `imagePath` by atomic replacement, creating the folder
// when missing. A cache: not flushed to disk, and false on any failure.
bool WriteSnapshot(const std::string& imagePath, const std::string& image);

// Where the image of `sourcePath` lives in the folder `snapshotDir`.
std::string SnapshotPathFor(const std::string& snapshotDir, const std::string& sourcePath);

}  // namespace cfgkit
