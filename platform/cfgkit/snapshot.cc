#include "cfgkit/snapshot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "cfgkit/atomic_save.h"
#include "cfgkit/content_hash.h"

namespace cfgkit {
namespace {

constexpr char kMagic[8] = {'C', 'F', 'G', 'S', 'N', 'A', 'P', '\0'};
// Bump whenever the layout changes; images of other versions are ignored.
constexpr uint32_t kVersion = 3;
constexpr char kImageSuffix[] = ".snap";
constexpr char kTempInfix[] = ".snap.tmp.";
// A temporary image this old belongs to a writer that died.
constexpr int64_t kDeadTempAgeSeconds = 600;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t sourcePathLength;
  uint64_t device, inode, size;
  int64_t modifiedNs, changedNs;
  int64_t settledNs;  // made, or last found to match its file, at this time
  uint64_t contentHash;
  uint64_t bodyHash;  // of everything after the header
  uint64_t imageSize;
  uint32_t keyCount, valueCount, poolSize, reserved;
  uint64_t checksum;  // of the header above, so a torn or stray header is refused
};

uint64_t Checksum(const void* data, size_t size) {
  uint64_t hash = 1469598103934665603ull;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

uint64_t HeaderChecksum(const Header& header) {
  return Checksum(&header, offsetof(Header, checksum));
}

size_t Align8(size_t size) { return (size + 7) & ~size_t{7}; }

}  // namespace

Snapshot::~Snapshot() {
  if (mapping_ != nullptr) ::munmap(mapping_, mappingSize_);
}

std::unique_ptr<Snapshot> Snapshot::Open(const std::string& imagePath,
                                         const std::string& sourcePath,
                                         const FileIdentity& identity) {
  int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  std::unique_ptr<Snapshot> image(new Snapshot());
  if (::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof(Header))) {
    image->imageDevice_ = info.st_dev;
    image->imageInode_ = info.st_ino;
    image->mappingSize_ = static_cast<size_t>(info.st_size);
    void* mapping = ::mmap(nullptr, image->mappingSize_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapping != MAP_FAILED) image->mapping_ = mapping;
  }
  ::close(fd);
  if (image->mapping_ == nullptr) return nullptr;

  Header header;
  std::memcpy(&header, image->mapping_, sizeof header);
  const char* base = static_cast<const char*>(image->mapping_);
  bool matches = std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 &&
                 header.version == kVersion && header.checksum == HeaderChecksum(header) &&
                 header.imageSize == image->mappingSize_ &&
                 header.sourcePathLength == sourcePath.size() &&
                 sizeof(Header) + header.sourcePathLength <= image->mappingSize_ &&
                 std::memcmp(base + sizeof(Header), sourcePath.data(), sourcePath.size()) == 0 &&
                 identity.exists && header.device == identity.device &&
                 header.inode == identity.inode && header.size == identity.size &&
                 header.modifiedNs == identity.modifiedNs && header.changedNs == identity.changedNs;
  if (!matches) return nullptr;

  size_t keysAt = Align8(sizeof(Header) + header.sourcePathLength);
  size_t valuesAt = Align8(keysAt + size_t{header.keyCount} * sizeof(SnapshotKey));
  size_t poolAt = Align8(valuesAt + size_t{header.valueCount} * sizeof(SnapshotValue));
  if (header.keyCount == 0 || poolAt + header.poolSize != image->mappingSize_) return nullptr;
  image->keys_ = reinterpret_cast<const SnapshotKey*>(base + keysAt);
  image->values_ = reinterpret_cast<const SnapshotValue*>(base + valuesAt);
  image->pool_ = base + poolAt;
  image->keyCount_ = header.keyCount;
  image->valueCount_ = header.valueCount;
  image->poolSize_ = header.poolSize;
  image->imagePath_ = imagePath;
  image->changedNs_ = header.changedNs;
  image->settledNs_ = header.settledNs;
  image->contentHash_ = header.contentHash;
  image->bodyHash_ = header.bodyHash;
  return image;
}

bool Snapshot::BodyIsIntact() const {
  const char* base = static_cast<const char*>(mapping_);
  return ContentHash(std::string_view(base + sizeof(Header), mappingSize_ - sizeof(Header))) ==
         bodyHash_;
}

void Snapshot::MarkSettled(int64_t verifiedNs) {
  Header header;
  std::memcpy(&header, mapping_, sizeof header);
  header.settledNs = verifiedNs;
  header.checksum = HeaderChecksum(header);
  int fd = ::open(imagePath_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  // Only the very image that was checked: another run may have replaced it.
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_dev == imageDevice_ && info.st_ino == imageInode_ &&
      ::pwrite(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header)) {
    settledNs_ = verifiedNs;
  }
  ::close(fd);
}

const SnapshotValue* Snapshot::ValueAt(uint32_t index) const {
  if (index >= valueCount_) return nullptr;
  uint32_t type = values_[index].type;
  bool known = type == static_cast<uint32_t>(ValueType::kString) ||
               type == static_cast<uint32_t>(ValueType::kInt32);
  return known ? &values_[index] : nullptr;
}

std::string BuildSnapshot(const KeyTree& tree, KeyId top, const std::string& sourcePath,
                          const FileIdentity& identity, uint64_t contentHash, int64_t createdNs) {
  std::vector<KeyId> order{top};  // breadth first: each key's subkeys are contiguous
  std::vector<SnapshotKey> keys;
  std::vector<SnapshotValue> values;
  std::string pool;
  pool.reserve(identity.size);  // names and texts take less than their XML
  auto addText = [&pool](std::string_view text, uint32_t* offset, uint32_t* length) {
    *offset = static_cast<uint32_t>(pool.size());
    *length = static_cast<uint32_t>(text.size());
    pool.append(text);
  };
  for (size_t i = 0; i < order.size(); ++i) {
    KeyId key = order[i];
    SnapshotKey record{};
    addText(tree.Name(key), &record.nameOffset, &record.nameLength);
    record.firstSubkey = static_cast<uint32_t>(order.size());
    record.subkeyCount = static_cast<uint32_t>(tree.SubkeyCount(key));
    for (size_t k = 0; k < tree.SubkeyCount(key); ++k) order.push_back(tree.SubkeyAt(key, k));
    record.firstValue = static_cast<uint32_t>(values.size());
    tree.ForEachValue(key, [&](const ValueView& value) {
      SnapshotValue stored{};
      addText(value.name, &stored.nameOffset, &stored.nameLength);
      addText(value.text, &stored.textOffset, &stored.textLength);
      stored.type = static_cast<uint32_t>(value.type);
      stored.number = value.number;
      values.push_back(stored);
    });
    record.valueCount = static_cast<uint32_t>(values.size() - record.firstValue);
    keys.push_back(record);
  }

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
  if (pool.size() > UINT32_MAX || values.size() > UINT32_MAX) return std::string();

  std::string image(sizeof(Header), '\0');
  image.reserve(sizeof(Header) + sourcePath.size() + keys.size() * sizeof(SnapshotKey) +
                values.size() * sizeof(SnapshotValue) + pool.size() + 32);
  image += sourcePath;
  image.resize(Align8(image.size()), '\0');
  image.append(reinterpret_cast<const char*>(keys.data()), keys.size() * sizeof(SnapshotKey));
  image.resize(Align8(image.size()), '\0');
  image.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(SnapshotValue));
  image.resize(Align8(image.size()), '\0');
  image += pool;
  header.imageSize = image.size();
  header.bodyHash = ContentHash(std::string_view(image).substr(sizeof(Header)));
  header.checksum = HeaderChecksum(header);
  std::memcpy(image.data(), &header, sizeof header);
  return image;
}

bool WriteSnapshot(const std::string& imagePath, const std::string& image) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(imagePath).parent_path(), error);
  // "<image>.tmp.<pid>", which pruning recognises by kTempInfix.
  std::string tempPath = imagePath + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string_view rest = image;
  while (!rest.empty()) {
    ssize_t written = ::write(fd, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    rest.remove_prefix(static_cast<size_t>(written));
  }
  // Flushed before it takes the image's name: a crash must not leave a name
  // on a header whose body never reached the disk.
  bool ok = rest.empty() && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok && ::rename(tempPath.c_str(), imagePath.c_str()) == 0;
  if (!ok) ::unlink(tempPath.c_str());
  return ok;
}

namespace {

// The file an image of this version was made from; empty for anything else.
std::string SourcePathOf(const std::string& imagePath) {
  int fd = ::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string bytes(sizeof(Header) + 4096, '\0');
  ssize_t size = ::read(fd, bytes.data(), bytes.size());
  ::close(fd);
  Header header;
  if (size < static_cast<ssize_t>(sizeof header)) return std::string();
  std::memcpy(&header, bytes.data(), sizeof header);
  bool valid = std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 &&
               header.version == kVersion && header.checksum == HeaderChecksum(header) &&
               sizeof(Header) + header.sourcePathLength <= static_cast<size_t>(size);
  return valid ? bytes.substr(sizeof(Header), header.sourcePathLength) : std::string();
}

}  // namespace

void PruneSnapshots(const std::string& snapshotDir) {
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(snapshotDir, error)) {
    const std::string path = item.path().string(), name = item.path().filename().string();
    struct stat info;
    if (name.find(kTempInfix) != std::string::npos) {
      if (::stat(path.c_str(), &info) == 0 &&
          ::time(nullptr) - info.st_mtime > kDeadTempAgeSeconds) {
        ::unlink(path.c_str());
      }
    } else if (name.ends_with(kImageSuffix)) {
      std::string source = SourcePathOf(path);
      bool gone = source.empty() ||
                  (::stat(source.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR));
      if (gone) ::unlink(path.c_str());
    }
  }
}

std::string SnapshotPathFor(const std::string& snapshotDir, const std::string& sourcePath) {
  static const char kDigits[] = "0123456789abcdef";
  uint64_t hash = Checksum(sourcePath.data(), sourcePath.size());
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<size_t>(i)] = kDigits[hash & 15];
  return JoinPath(snapshotDir, name + kImageSuffix);
}

}  // namespace cfgkit
