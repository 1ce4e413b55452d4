// The folder of one user's snapshot images. Images copy private settings and
// answer reads in place of the XML, so the folder is trusted only when this
// user alone can write it: it is created 0700, images 0600, and a folder or
// image that belongs to someone else or that others may write is not used.
// Nothing is created inside a folder that belongs to someone else (root
// running with a user's HOME simply works without images). Ownership and
// modes are the trust boundary; checksums only detect corruption.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cfgkit/file_ops.h"
#include "cfgkit/snapshot.h"

namespace cfgkit {

class SnapshotCache {
 public:
  // The cache in `dir`, created when missing and allowed; nullopt when the
  // folder cannot be trusted or made.
  static std::optional<SnapshotCache> Prepare(FileOps& ops, const std::string& dir);

  // The image of the file `sourcePath` with `identity`, or null.
  std::unique_ptr<Snapshot> Open(const std::string& sourcePath,
                                 const FileIdentity& identity) const {
    return Snapshot::Open(*ops_, PathFor(sourcePath), sourcePath, identity);
  }

  // Stores `image` as the image of `sourcePath`. Best effort: a failure
  // leaves the cache without that image and changes nothing else. The first
  // image of a file not seen before clears away images of files that are gone.
  void Write(const std::string& sourcePath, const std::string& image) const;

  // Removes images of files that no longer exist, images of other versions,
  // anything that is no image, and temporary images that writers which died
  // left behind.
  void Prune() const;

  // Where the image of `sourcePath` lives.
  std::string PathFor(const std::string& sourcePath) const;

 private:
  SnapshotCache(FileOps& ops, std::string dir) : ops_(&ops), dir_(std::move(dir)) {}

  FileOps* ops_;
  std::string dir_;
};

}  // namespace cfgkit
