// A compiled image of one store file: its key tree with every name and value,
// laid out so that the next run reads just the parts it needs instead of
// parsing the XML again. The XML file stays the only truth: an image is used
// only when it describes the very file on disk.
//
// Where the file system allows, the image is mapped under a read lease, so
// that nobody can change or cut it short while a run reads it (a writer waits
// for the run to end); elsewhere the blocks a run needs are read into a
// private copy.
//
// Layout: a fixed header (with its own checksum), the source file's path, a
// table of checksums of the body's 4 KiB blocks, and the body: the keys in
// breadth-first order (so each key's subkeys are one contiguous run after it),
// the values grouped by key, and a pool of name and text bytes. Blocks are read
// when first touched and checked against the table before any byte of them is
// used, so a run pays for what it reads and never answers from a corrupt byte.
// A block that fails its check is rebuilt from the source file, which must
// still be the file the image was made from; failing that, the image reads as
// empty from there on.
//
// An image made within a clock tick or two of its file's last change cannot
// prove by timestamps that the file was not edited again in that tick (the
// "racily clean" case), so it also records a digest of the file's bytes; such
// an image is used only after the file is read and found to match it, and is
// then marked settled so that later runs need not read the file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cfgkit/file_ops.h"
#include "cfgkit/image_body.h"
#include "cfgkit/key_tree.h"

namespace cfgkit {

struct SnapshotHeader;

class Snapshot {
 public:
  static constexpr uint64_t kBlockSize = 4096;  // bytes of the body under one checksum

  // Opens the image at `imagePath` when it was made from the file `sourcePath`
  // with `identity` and belongs to this user alone. Null in every other case.
  // `ops` must outlive the image.
  static std::unique_ptr<Snapshot> Open(FileOps& ops, const std::string& imagePath,
                                        const std::string& sourcePath,
                                        const FileIdentity& identity);

  // The image `image` read from memory: every block is trusted, nothing is
  // written back. REQUIRES: `image` was made by SealImage.
  static std::unique_ptr<Snapshot> InMemory(FileOps& ops, std::string image);

  ~Snapshot();
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  // Whether the image was made (or found to match its file) more than
  // `racyWindowNs` after the file's last change: then a file with the same
  // identity is the same file. Otherwise compare `contentHash()` first.
  bool IsSettled(int64_t racyWindowNs) const { return settledNs_ - changedNs_ > racyWindowNs; }
  uint64_t contentHash() const { return contentHash_; }

  // Whether part of the image failed its check and could not be rebuilt: it
  // then answers as if that part were missing, and must not be written out.
  bool broken() const { return broken_; }
  // How many images of this process have broken so far: a reader that missed
  // tells at once whether an image may be why.
  static uint64_t BreakCount();

  // The run will read most of the image: its pages are mapped in at once,
  // now or when it is first read.
  void ExpectWholeReads() const;

  // Records in the image file that its file was found to match it at
  // `verifiedNs`. Best effort: the image is a cache.
  void MarkSettled(int64_t verifiedNs);

  // The key at `index`, or null when there is none.
  const SnapshotKey* Key(uint32_t index) const;
  // How many keys the image says it holds, at most as many as its body has
  // room for.
  uint32_t KeyCount() const;
  // The value at `index`, or null when there is none or its type is unknown.
  const SnapshotValue* ValueAt(uint32_t index) const;
  // The bytes at `offset` of the pool, or empty when they lie outside it.
  std::string_view Text(uint32_t offset, uint32_t length) const;

  // The records of `key`'s values and the pool that their names and texts
  // lie in, all checked at once, for reading them in place from then on
  // (names and texts at pool + offset); false when they cannot all be read.
  bool ValuesInPlace(const SnapshotKey& key, const SnapshotValue** values, const char** pool) const;

  // Calls `use(value, name, text)` for each value of `key` in order, up to
  // the first that ValueAt would not give, with the texts Text would give.
  // The records and the texts of a key lie together: they are checked as
  // one run each, not one by one.
  template <class Use>
  void ForEachValue(const SnapshotKey& key, const Use& use) const;

  // As ForEachValue, in ascending byte order of the names, which an image
  // made with that order holds; false, having called nothing, when it has
  // none or it cannot be read.
  template <class Use>
  bool ForEachValueByName(const SnapshotKey& key, const Use& use) const;

 private:
  // Position i of `key`'s run holds the index, within the key, of the value
  // with the i-th smallest name; false when the run cannot be read.
  bool NameOrderInPlace(const SnapshotKey& key, const uint32_t** order) const;

  explicit Snapshot(FileOps& ops) : ops_(ops) {}
  // Takes the counts and times of a header already found whole.
  void Adopt(const SnapshotHeader& header);

  // Whether the body bytes [offset, offset + size) are at hand and checked.
  // Called for every record and text read, so the common case is inline.
  bool Ensure(uint64_t offset, uint64_t size) const {
    if (size == 0 || offset + size > bodySize_) return size == 0 && offset <= bodySize_;
    uint64_t first = offset / kBlockSize, last = (offset + size - 1) / kBlockSize;
    if (first == last && body_ != nullptr && checked_[first]) return true;
    return EnsureSlow(first, last);
  }
  bool EnsureSlow(uint64_t first, uint64_t last) const;
  // Maps the image where it can be leased, else keeps a private copy.
  void Attach() const;
  bool CheckBlocks(uint64_t first, uint64_t end) const;
  // Rebuilds the whole body from the source file; false when it no longer
  // is the file the image was made from.
  bool Rebuild() const;

  FileOps& ops_;
  int fd_ = -1;
  std::string imagePath_;
  std::string sourcePath_;
  FileIdentity imageIdentity_;
  FileIdentity sourceIdentity_;
  int64_t changedNs_ = 0, settledNs_ = 0;
  uint64_t contentHash_ = 0;
  uint64_t imageSize_ = 0;
  uint64_t bodyAt_ = 0;  // where the body starts in the image file
  uint64_t bodySize_ = 0;
  uint64_t keysAt_ = 0, valuesAt_ = 0, orderAt_ = 0, poolAt_ = 0;  // within the body
  uint32_t keyCount_ = 0, valueCount_ = 0, poolSize_ = 0;
  bool hasNameOrder_ = false;
  std::vector<uint64_t> blockHashes_;
  // Filled in as the body is first read, hence mutable. Bytes once handed out
  // stay where they are and as they are until the image is destroyed.
  mutable const char* mapping_ = nullptr;  // the leased image file, or null
  mutable std::unique_ptr<char[]> copy_;   // the body read or rebuilt privately
  std::string held_;                       // the whole image, when made in memory
  mutable const char* body_ = nullptr;     // where the body is read from
  mutable std::vector<uint8_t> checked_;   // by block: 1 once checked
  mutable bool broken_ = false;
  mutable bool wholeReads_ = false;
};

template <class Use>
void Snapshot::ForEachValue(const SnapshotKey& key, const Use& use) const {
  const SnapshotValue* values = nullptr;
  const char* pool = nullptr;
  if (ValuesInPlace(key, &values, &pool)) {
    auto text = [pool](uint32_t offset, uint32_t length) {
      return length == 0 ? std::string_view() : std::string_view(pool + offset, length);
    };
    for (uint64_t i = 0; i < key.valueCount; ++i) {
      const SnapshotValue& value = values[i];
      if (value.type != static_cast<uint32_t>(ValueType::kString) &&
          value.type != static_cast<uint32_t>(ValueType::kInt32)) {
        return;
      }
      use(value, text(value.nameOffset, value.nameLength),
          text(value.textOffset, value.textLength));
    }
    return;
  }
  // Some part could not be checked: what can be read is read one by one.
  for (uint64_t i = key.firstValue; i < uint64_t{key.firstValue} + key.valueCount; ++i) {
    const SnapshotValue* value = ValueAt(static_cast<uint32_t>(i));
    if (value == nullptr) return;
    use(*value, Text(value->nameOffset, value->nameLength),
        Text(value->textOffset, value->textLength));
  }
}

template <class Use>
bool Snapshot::ForEachValueByName(const SnapshotKey& key, const Use& use) const {
  const SnapshotValue* values = nullptr;
  const char* pool = nullptr;
  const uint32_t* order = nullptr;
  if (!ValuesInPlace(key, &values, &pool) || !NameOrderInPlace(key, &order)) return false;
  // As ForEachValue: the values before the first of an unknown type.
  uint32_t known = 0;
  while (known < key.valueCount &&
         (values[known].type == static_cast<uint32_t>(ValueType::kString) ||
          values[known].type == static_cast<uint32_t>(ValueType::kInt32))) {
    ++known;
  }
  for (uint32_t i = 0; i < key.valueCount; ++i) {
    if (order[i] >= key.valueCount) return false;
  }
  auto text = [pool](uint32_t offset, uint32_t length) {
    return length == 0 ? std::string_view() : std::string_view(pool + offset, length);
  };
  for (uint32_t i = 0; i < key.valueCount; ++i) {
    const SnapshotValue& value = values[order[i]];
    if (order[i] < known) {
      use(value, text(value.nameOffset, value.nameLength),
          text(value.textOffset, value.textLength));
    }
  }
  return true;
}

// The image of `body`, for the file `sourcePath` with `identity` and the
// digest `contentHash` of its bytes, made at `createdNs`.
// With `withNameOrder`, it also holds each key's values in name order.
std::string SealImage(const ImageBody& body, const std::string& sourcePath,
                      const FileIdentity& identity, uint64_t contentHash, int64_t createdNs,
                      bool withNameOrder);

// The body of the top-level key `top` of `tree`; false when it is too large
// for an image.
bool BodyOfKey(const KeyTree& tree, KeyId top, ImageBody* body);

// The source path recorded in the image at `imagePath`; empty when it is no
// image of this version or cannot be read.
std::string SnapshotSourcePath(FileOps& ops, const std::string& imagePath);

}  // namespace cfgkit
