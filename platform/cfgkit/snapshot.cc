#include "cfgkit/snapshot.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "cfgkit/order_prefix.h"
#include "cfgkit/xml_codec.h"
#include "fsio/content_hash.h"

namespace cfgkit {
namespace {

constexpr char kMagic[8] = {'C', 'F', 'G', 'S', 'N', 'A', 'P', '\0'};
// Bump whenever the layout changes; images of other versions are ignored.
constexpr uint32_t kVersion = 7;
constexpr uint64_t kBlockSize = Snapshot::kBlockSize;

}  // namespace

struct SnapshotHeader {
  char magic[8];
  uint32_t version;
  uint32_t sourcePathLength;
  uint64_t device, inode, size;
  int64_t modifiedNs, changedNs;
  int64_t settledNs;  // made, or last found to match its file, at this time
  uint64_t contentHash;
  uint64_t imageSize;
  uint64_t bodySize;
  uint32_t keyCount, valueCount, poolSize, blockCount;
  uint32_t hasNameOrder;  // 1: the body holds each key's values in name order
  uint32_t unused;        // keeps what follows on 8 bytes
  uint64_t tableHash;  // of the source path and the block checksums
  uint64_t checksum;   // of the header above, so a torn or stray header is refused
};

namespace {

using Header = SnapshotHeader;

uint64_t HeaderChecksum(const Header& header) {
  return fsio::Hash64(
      std::string_view(reinterpret_cast<const char*>(&header), offsetof(Header, checksum)));
}

uint64_t Align8(uint64_t size) { return (size + 7) & ~uint64_t{7}; }

// Where the parts of an image lie, from its header's counts.
struct Layout {
  uint64_t tableAt, bodyAt, keysAt, valuesAt, orderAt, poolAt, bodySize;
};

Layout LayoutOf(const Header& header) {
  Layout layout;
  layout.tableAt = Align8(sizeof(Header) + header.sourcePathLength);
  layout.bodyAt = layout.tableAt + uint64_t{header.blockCount} * 8;
  layout.keysAt = 0;
  layout.valuesAt = Align8(uint64_t{header.keyCount} * sizeof(SnapshotKey));
  layout.orderAt = Align8(layout.valuesAt + uint64_t{header.valueCount} * sizeof(SnapshotValue));
  const uint64_t ordered = header.hasNameOrder != 0 ? header.valueCount : 0;
  layout.poolAt = Align8(layout.orderAt + ordered * sizeof(uint32_t));
  layout.bodySize = layout.poolAt + header.poolSize;
  return layout;
}

// The header at the start of `fd`, when it is one of this version and intact.
bool ReadHeader(FileOps& ops, int fd, Header* header) {
  return ops.ReadAt(fd, 0, reinterpret_cast<char*>(header), sizeof *header).ok() &&
         std::memcmp(header->magic, kMagic, sizeof kMagic) == 0 && header->version == kVersion &&
         header->checksum == HeaderChecksum(*header);
}

bool SameFileVersion(const Header& header, const FileIdentity& identity) {
  return identity.exists && header.device == identity.device && header.inode == identity.inode &&
         header.size == identity.size && header.modifiedNs == identity.modifiedNs &&
         header.changedNs == identity.changedNs;
}

// Images copy private settings: only the user's own, which nobody else may write.
bool BelongsToThisUser(const FileIdentity& identity) {
  return identity.owner == ::geteuid() && (identity.mode & 022) == 0;
}

std::string KeyNameOfPath(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  return name.substr(0, name.rfind('.'));
}

}  // namespace

std::unique_ptr<Snapshot> Snapshot::Open(FileOps& ops, const std::string& imagePath,
                                         const std::string& sourcePath,
                                         const FileIdentity& identity) {
  std::unique_ptr<Snapshot> image(new Snapshot(ops));
  if (!ops.OpenExisting(imagePath, false, &image->fd_, &image->imageIdentity_).ok()) return nullptr;
  Header header;
  if (!BelongsToThisUser(image->imageIdentity_) || !ReadHeader(ops, image->fd_, &header) ||
      !SameFileVersion(header, identity) || header.sourcePathLength != sourcePath.size() ||
      header.keyCount == 0) {
    return nullptr;
  }
  Layout layout = LayoutOf(header);
  if (layout.bodySize != header.bodySize || layout.bodyAt + layout.bodySize != header.imageSize ||
      header.imageSize != image->imageIdentity_.size ||
      header.blockCount != (layout.bodySize + kBlockSize - 1) / kBlockSize) {
    return nullptr;
  }
  std::string table(layout.bodyAt - sizeof(Header), '\0');
  if (!ops.ReadAt(image->fd_, sizeof(Header), table.data(), table.size()).ok() ||
      fsio::Hash64(table) != header.tableHash ||
      table.compare(0, sourcePath.size(), sourcePath) != 0) {
    return nullptr;
  }
  image->blockHashes_.resize(header.blockCount);
  std::memcpy(image->blockHashes_.data(), table.data() + (layout.tableAt - sizeof(Header)),
              size_t{header.blockCount} * 8);
  image->imagePath_ = imagePath;
  image->sourcePath_ = sourcePath;
  image->sourceIdentity_ = identity;
  image->Adopt(header);
  return image;
}

std::unique_ptr<Snapshot> Snapshot::InMemory(FileOps& ops, std::string bytes) {
  std::unique_ptr<Snapshot> image(new Snapshot(ops));
  Header header;
  std::memcpy(&header, bytes.data(), sizeof header);
  image->Adopt(header);
  image->held_ = std::move(bytes);
  image->body_ = image->held_.data() + image->bodyAt_;
  image->checked_.assign(header.blockCount, 1);
  return image;
}

void Snapshot::Adopt(const SnapshotHeader& header) {
  Layout layout = LayoutOf(header);
  changedNs_ = header.changedNs;
  settledNs_ = header.settledNs;
  contentHash_ = header.contentHash;
  bodyAt_ = layout.bodyAt;
  bodySize_ = layout.bodySize;
  keysAt_ = layout.keysAt;
  valuesAt_ = layout.valuesAt;
  orderAt_ = layout.orderAt;
  poolAt_ = layout.poolAt;
  keyCount_ = header.keyCount;
  valueCount_ = header.valueCount;
  hasNameOrder_ = header.hasNameOrder != 0;
  poolSize_ = header.poolSize;
  imageSize_ = header.imageSize;
  checked_.assign(header.blockCount, 0);
}

Snapshot::~Snapshot() {
  if (mapping_ != nullptr) ops_.Unmap(mapping_, imageSize_);
  if (fd_ >= 0) ops_.Close(fd_).IgnoreError();
}

void Snapshot::MarkSettled(int64_t verifiedNs) {
  Header header;
  if (!ReadHeader(ops_, fd_, &header)) return;
  header.settledNs = verifiedNs;
  header.checksum = HeaderChecksum(header);
  int fd = -1;
  FileIdentity now;
  if (!ops_.OpenExisting(imagePath_, true, &fd, &now).ok()) return;
  fsio::FdGuard guard(ops_, fd);
  // Only the very image that was checked: another run may have replaced it.
  if (now.device != imageIdentity_.device || now.inode != imageIdentity_.inode) return;
  std::string_view bytes(reinterpret_cast<const char*>(&header), sizeof header);
  if (ops_.WriteAt(fd, 0, bytes).ok()) settledNs_ = verifiedNs;
}

const SnapshotKey* Snapshot::Key(uint32_t index) const {
  uint64_t at = keysAt_ + uint64_t{index} * sizeof(SnapshotKey);
  if (index >= keyCount_ || !Ensure(at, sizeof(SnapshotKey))) return nullptr;
  return reinterpret_cast<const SnapshotKey*>(body_ + at);
}

uint32_t Snapshot::KeyCount() const {
  return static_cast<uint32_t>(std::min<uint64_t>(keyCount_, bodySize_ / sizeof(SnapshotKey)));
}

const SnapshotValue* Snapshot::ValueAt(uint32_t index) const {
  uint64_t at = valuesAt_ + uint64_t{index} * sizeof(SnapshotValue);
  if (index >= valueCount_ || !Ensure(at, sizeof(SnapshotValue))) return nullptr;
  const auto* value = reinterpret_cast<const SnapshotValue*>(body_ + at);
  bool known = value->type == static_cast<uint32_t>(ValueType::kString) ||
               value->type == static_cast<uint32_t>(ValueType::kInt32);
  return known ? value : nullptr;
}

bool Snapshot::ValuesInPlace(const SnapshotKey& key, const SnapshotValue** values,
                             const char** pool) const {
  const uint64_t first = key.firstValue, count = key.valueCount;
  const uint64_t at = valuesAt_ + first * sizeof(SnapshotValue);
  if (count == 0 || first + count > valueCount_ || !Ensure(at, count * sizeof(SnapshotValue))) {
    return false;
  }
  const auto* records = reinterpret_cast<const SnapshotValue*>(body_ + at);
  // The records and the texts of a key lie together: one run each.
  uint64_t low = UINT64_MAX, high = 0;
  for (uint64_t i = 0; i < count; ++i) {
    for (auto [offset, length] : {std::pair{records[i].nameOffset, records[i].nameLength},
                                  std::pair{records[i].textOffset, records[i].textLength}}) {
      if (length == 0) continue;
      low = std::min<uint64_t>(low, offset);
      high = std::max<uint64_t>(high, uint64_t{offset} + length);
    }
  }
  if (high > poolSize_ || (high != 0 && !Ensure(poolAt_ + low, high - low))) return false;
  *values = records;
  *pool = body_ + poolAt_;
  return true;
}

bool Snapshot::NameOrderInPlace(const SnapshotKey& key, const uint32_t** order) const {
  if (!hasNameOrder_) return false;
  const uint64_t first = key.firstValue, count = key.valueCount;
  const uint64_t at = orderAt_ + first * sizeof(uint32_t);
  if (count == 0 || first + count > valueCount_ || !Ensure(at, count * sizeof(uint32_t))) {
    return false;
  }
  *order = reinterpret_cast<const uint32_t*>(body_ + at);
  return true;
}

std::string_view Snapshot::Text(uint32_t offset, uint32_t length) const {
  if (length == 0 || uint64_t{offset} + length > poolSize_ || !Ensure(poolAt_ + offset, length)) {
    return {};
  }
  return std::string_view(body_ + poolAt_ + offset, length);
}

bool Snapshot::EnsureSlow(uint64_t first, uint64_t last) const {
  if (body_ == nullptr) Attach();
  for (uint64_t block = first; block <= last; ++block) {
    if (checked_[block]) continue;
    // What was checked stays readable; nothing more is read from a broken image.
    if (broken_) return false;
    uint64_t end = block + 1;
    while (end <= last && !checked_[end]) ++end;
    if (!CheckBlocks(block, end)) return false;
    block = end - 1;
  }
  return true;
}

void Snapshot::ExpectWholeReads() const {
  if (wholeReads_) return;
  wholeReads_ = true;
  if (mapping_ != nullptr) ops_.MapInWhole(mapping_, imageSize_);
}

void Snapshot::Attach() const {
  if (ops_.MapUnchanging(fd_, imageSize_, &mapping_).ok()) {
    body_ = mapping_ + bodyAt_;
    if (wholeReads_) ops_.MapInWhole(mapping_, imageSize_);
    return;
  }
  mapping_ = nullptr;
  copy_.reset(new char[bodySize_]);
  body_ = copy_.get();
}

bool Snapshot::CheckBlocks(uint64_t first, uint64_t end) const {
  uint64_t from = first * kBlockSize, to = std::min(end * kBlockSize, bodySize_);
  if (mapping_ == nullptr &&
      !ops_.ReadAt(fd_, bodyAt_ + from, copy_.get() + from, to - from).ok()) {
    return Rebuild();
  }
  for (uint64_t block = first; block < end; ++block) {
    uint64_t at = block * kBlockSize;
    std::string_view bytes(body_ + at, std::min(kBlockSize, bodySize_ - at));
    if (fsio::Hash64(bytes) != blockHashes_[block]) return Rebuild();
  }
  for (uint64_t block = first; block < end; ++block) checked_[block] = 1;
  return true;
}

namespace {
uint64_t breakCount = 0;
}  // namespace

uint64_t Snapshot::BreakCount() { return breakCount; }

bool Snapshot::Rebuild() const {
  broken_ = true;
  ++breakCount;
  std::string bytes;
  FileIdentity identity;
  // The bytes decide: a file saved again with the same content, or given
  // another mode, still rebuilds the very image.
  if (!ops_.ReadFile(sourcePath_, &bytes, &identity).ok() || fsio::Hash64(bytes) != contentHash_) {
    return false;
  }
  ImageBody parsed;
  if (!ParseKeyFile(&bytes, KeyNameOfPath(sourcePath_), &parsed).ok()) return false;
  std::string image =
      SealImage(parsed, sourcePath_, sourceIdentity_, contentHash_, settledNs_, hasNameOrder_);
  Header header;
  if (image.size() < sizeof header) return false;
  std::memcpy(&header, image.data(), sizeof header);
  Layout layout = LayoutOf(header);
  if (layout.bodySize != bodySize_ || layout.bodyAt + bodySize_ != image.size()) return false;
  // Block for block what the image was made with, so that whatever was
  // already handed out stays true.
  const char* body = image.data() + layout.bodyAt;
  for (size_t block = 0; block < checked_.size(); ++block) {
    uint64_t at = block * kBlockSize;
    if (fsio::Hash64(std::string_view(body + at, std::min(kBlockSize, bodySize_ - at))) !=
        blockHashes_[block]) {
      return false;
    }
  }
  if (!copy_) copy_.reset(new char[bodySize_]);
  std::memcpy(copy_.get(), body, bodySize_);
  body_ = copy_.get();
  checked_.assign(checked_.size(), 1);
  broken_ = false;
  return true;
}

bool BodyOfKey(const KeyTree& tree, KeyId top, ImageBody* body) {
  // The layout the reader gives the file the writer makes of the key (each
  // key's values, then its subkeys' names), so either image rebuilds from it.
  std::vector<KeyId> order{top};
  SnapshotKey root{};
  bool fits = body->AddText(tree.Name(top), &root.nameOffset, &root.nameLength);
  body->keys.push_back(root);
  for (size_t i = 0; i < order.size(); ++i) {
    KeyId key = order[i];
    const auto firstValue = static_cast<uint32_t>(body->values.size());
    tree.ForEachValue(key, [&](const ValueView& value) {
      SnapshotValue stored{};
      fits &= body->AddText(value.name, &stored.nameOffset, &stored.nameLength);
      std::string_view text = value.type == ValueType::kString ? value.text : std::string_view();
      fits &= body->AddText(text, &stored.textOffset, &stored.textLength);
      stored.type = static_cast<uint32_t>(value.type);
      stored.number = value.number;
      body->values.push_back(stored);
    });
    const auto firstSubkey = static_cast<uint32_t>(body->keys.size());
    for (size_t k = 0; k < tree.SubkeyCount(key); ++k) {
      KeyId subkey = tree.SubkeyAt(key, k);
      SnapshotKey record{};
      fits &= body->AddText(tree.Name(subkey), &record.nameOffset, &record.nameLength);
      body->keys.push_back(record);
      order.push_back(subkey);
    }
    SnapshotKey& record = body->keys[i];
    record.firstValue = firstValue;
    record.valueCount = static_cast<uint32_t>(body->values.size()) - firstValue;
    record.firstSubkey = firstSubkey;
    record.subkeyCount = static_cast<uint32_t>(body->keys.size()) - firstSubkey;
    if (!fits) return false;
  }
  return true;
}

namespace {

// A value's name by its first sixteen bytes as two numbers that order as the
// bytes do, zero-padded, and its length: most names differ there, so most
// comparisons read neither the names nor anything but these records.
struct SortableName {
  uint64_t high, low;
  uint32_t index, size;
};

SortableName SortableNameOf(std::string_view name, uint32_t index) {
  return {OrderPrefix(name), name.size() > 8 ? OrderPrefix(name.substr(8)) : 0, index,
          static_cast<uint32_t>(name.size())};
}

// By key, the positions of its values in ascending byte order of their names:
// a listing reads them so, and sorting them at every run cost more than
// reading them. The run that makes the image pays for this sort.
std::vector<uint32_t> NameOrder(const ImageBody& body) {
  std::vector<uint32_t> order(body.values.size());
  const std::string_view pool = body.pool;
  std::vector<SortableName> run;
  for (const SnapshotKey& key : body.keys) {
    const uint64_t end =
        std::min<uint64_t>(uint64_t{key.firstValue} + key.valueCount, order.size());
    if (key.firstValue >= end) continue;
    const SnapshotValue* values = body.values.data() + key.firstValue;
    auto nameOf = [&](uint32_t index) {
      return pool.substr(std::min<size_t>(values[index].nameOffset, pool.size()),
                         values[index].nameLength);
    };
    run.clear();
    for (uint32_t i = 0; i < end - key.firstValue; ++i) run.push_back(SortableNameOf(nameOf(i), i));
    std::sort(run.begin(), run.end(), [&](const SortableName& a, const SortableName& b) {
      if (a.high != b.high) return a.high < b.high;
      if (a.low != b.low) return a.low < b.low;
      if (a.size <= 16 && b.size <= 16) return a.size < b.size;
      return nameOf(a.index) < nameOf(b.index);
    });
    for (size_t i = 0; i < run.size(); ++i) order[key.firstValue + i] = run[i].index;
  }
  return order;
}

}  // namespace

std::string SealImage(const ImageBody& body, const std::string& sourcePath,
                      const FileIdentity& identity, uint64_t contentHash, int64_t createdNs,
                      bool withNameOrder) {
  const std::vector<SnapshotKey>& keys = body.keys;
  const std::vector<SnapshotValue>& values = body.values;
  const std::string& pool = body.pool;
  Header header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.version = kVersion;
  header.sourcePathLength = static_cast<uint32_t>(sourcePath.size());
  header.device = identity.device;
  header.inode = identity.inode;
  header.size = identity.size;
  header.modifiedNs = identity.modifiedNs;
  header.changedNs = identity.changedNs;
  header.settledNs = createdNs;
  header.contentHash = contentHash;
  header.keyCount = static_cast<uint32_t>(keys.size());
  header.valueCount = static_cast<uint32_t>(values.size());
  header.poolSize = static_cast<uint32_t>(pool.size());
  header.hasNameOrder = withNameOrder ? 1 : 0;
  Layout layout = LayoutOf(header);
  header.bodySize = layout.bodySize;
  header.blockCount = static_cast<uint32_t>((layout.bodySize + kBlockSize - 1) / kBlockSize);
  layout = LayoutOf(header);
  header.imageSize = layout.bodyAt + layout.bodySize;

  std::string image(sizeof(Header), '\0');
  image.reserve(header.imageSize);
  image += sourcePath;
  image.resize(layout.bodyAt, '\0');  // the block checksums are filled in below
  image.append(reinterpret_cast<const char*>(keys.data()), keys.size() * sizeof(SnapshotKey));
  image.resize(layout.bodyAt + layout.valuesAt, '\0');
  image.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(SnapshotValue));
  image.resize(layout.bodyAt + layout.orderAt, '\0');
  if (withNameOrder) {
    const std::vector<uint32_t> order = NameOrder(body);
    image.append(reinterpret_cast<const char*>(order.data()), order.size() * sizeof(uint32_t));
  }
  image.resize(layout.bodyAt + layout.poolAt, '\0');
  image += pool;
  for (uint64_t block = 0; block < header.blockCount; ++block) {
    uint64_t at = block * kBlockSize;
    uint64_t hash = fsio::Hash64(std::string_view(image).substr(
        layout.bodyAt + at, std::min(kBlockSize, layout.bodySize - at)));
    std::memcpy(image.data() + layout.tableAt + block * 8, &hash, 8);
  }
  header.tableHash =
      fsio::Hash64(std::string_view(image).substr(sizeof(Header), layout.bodyAt - sizeof(Header)));
  header.checksum = HeaderChecksum(header);
  std::memcpy(image.data(), &header, sizeof header);
  return image;
}

std::string SnapshotSourcePath(FileOps& ops, const std::string& imagePath) {
  int fd = -1;
  FileIdentity identity;
  if (!ops.OpenExisting(imagePath, false, &fd, &identity).ok()) return std::string();
  fsio::FdGuard guard(ops, fd);
  Header header;
  if (!ReadHeader(ops, fd, &header) || sizeof(Header) + header.sourcePathLength > identity.size) {
    return std::string();
  }
  std::string path(header.sourcePathLength, '\0');
  if (!ops.ReadAt(fd, sizeof(Header), path.data(), path.size()).ok()) return std::string();
  return path;
}

}  // namespace cfgkit
