#include "cfgkit/snapshot_cache.h"

#include <time.h>
#include <unistd.h>

#include <vector>

#include "fsio/atomic_replace.h"
#include "fsio/content_hash.h"

namespace cfgkit {
namespace {

constexpr char kImageSuffix[] = ".snap";
// A temporary image this old belongs to a writer that died.
constexpr int64_t kDeadTempAgeNs = 600LL * 1000000000LL;

bool OwnedByThisUser(const FileIdentity& identity) { return identity.owner == ::geteuid(); }

std::string ParentOf(const std::string& dir) {
  size_t slash = dir.find_last_of('/', dir.size() > 1 ? dir.size() - 2 : 0);
  return slash == std::string::npos || slash == 0 ? "/" : dir.substr(0, slash);
}

int64_t NowNs() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

}  // namespace

std::optional<SnapshotCache> SnapshotCache::Prepare(FileOps& ops, const std::string& dir) {
  if (dir.empty() || dir.front() != '/') return std::nullopt;
  // Folders to create, innermost first, below the nearest one that exists.
  std::vector<std::string> missing;
  std::string at = dir;
  FileIdentity identity;
  for (;;) {
    if (!ops.Stat(at, &identity).ok()) return std::nullopt;
    if (identity.exists || at == "/") break;
    missing.push_back(at);
    at = ParentOf(at);
  }
  if (!missing.empty()) {
    if (identity.kind != FileIdentity::Kind::kDirectory || !OwnedByThisUser(identity)) {
      return std::nullopt;
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
      if (!ops.MakeDir(*folder, 0700).ok()) return std::nullopt;
    }
  }
  if (!ops.Stat(dir, &identity, false).ok() || identity.kind != FileIdentity::Kind::kDirectory ||
      !OwnedByThisUser(identity) || (identity.mode & 022) != 0) {
    return std::nullopt;
  }
  return SnapshotCache(ops, dir);
}

std::string SnapshotCache::PathFor(const std::string& sourcePath) const {
  static const char kDigits[] = "0123456789abcdef";
  uint64_t hash = fsio::Hash64(sourcePath);
  std::string name(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<size_t>(i)] = kDigits[hash & 15];
  return fsio::JoinPath(dir_, name + kImageSuffix);
}

void SnapshotCache::Write(const std::string& sourcePath, const std::string& image) const {
  if (image.empty()) return;
  const std::string imagePath = PathFor(sourcePath);
  FileIdentity existing;
  bool firstOfItsFile = ops_->Stat(imagePath, &existing, false).ok() && !existing.exists;
  // A crash may lose the image or leave it cut short: its checksums tell.
  Status status = fsio::ReplaceFile(*ops_, imagePath, image, fsio::Permissions::kPrivate,
                                    fsio::Durability::kCache);
  if (status.ok() && firstOfItsFile) Prune();
}

void SnapshotCache::Prune() const {
  std::vector<std::string> names;
  if (!ops_->ListDir(dir_, &names).ok()) return;
  const int64_t now = NowNs();
  for (const std::string& name : names) {
    const std::string path = fsio::JoinPath(dir_, name);
    FileIdentity identity;
    if (!ops_->Stat(path, &identity, false).ok() || !identity.exists) continue;
    bool remove = false;
    if (fsio::IsLeftoverOfReplace(name)) {
      remove = now - identity.modifiedNs > kDeadTempAgeNs;
    } else if (name.ends_with(kImageSuffix)) {
      std::string source = identity.kind == FileIdentity::Kind::kRegular
                               ? SnapshotSourcePath(*ops_, path)
                               : std::string();
      FileIdentity sourceIdentity;
      remove =
          source.empty() || (ops_->Stat(source, &sourceIdentity).ok() && !sourceIdentity.exists);
    }
    // Best effort: what stays is looked at again by the next prune.
    if (remove) ops_->Remove(path).IgnoreError();
  }
}

}  // namespace cfgkit
