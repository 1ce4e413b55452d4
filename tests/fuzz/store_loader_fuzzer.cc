// Arbitrary bytes as a store file. Loading must never crash, whatever loads
// must write out and load again to the very same file, and its snapshot
// image must read back as the same file. The same bytes as a settings
// document must parse or be refused without a crash, and every removal must
// lie inside what was parsed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cfgkit/key_tree.h"
#include "cfgkit/snapshot.h"
#include "cfgkit/xml_codec.h"
#include "support/key_file.h"
#include "fsio/atomic_replace.h"

namespace {

struct ImageFile {
  std::string path = "/tmp/store_loader_fuzzer." + std::to_string(::getpid()) + ".snap";
  ~ImageFile() { ::unlink(path.c_str()); }
};

std::string Written(const cfgkit::KeyTree& tree) {
  return cfgkit::SerializeKey(tree, tree.FindSubkey(tree.Root(), "fuzz"));
}

void ParseAsSettingsDocument(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  cfgkit::ImageBody body;
  std::vector<cfgkit::Removal> removals;
  if (!cfgkit::ParseSettingsDocument(&bytes, "doc", &body, &removals).ok()) return;
  for (const cfgkit::Removal& removal : removals) {
    if (removal.key >= body.keys.size() ||
        removal.nameOffset + uint64_t{removal.nameLength} > body.pool.size())
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ImageFile imageFile;
  ParseAsSettingsDocument(data, size);
  testsupport::KeyFile file;
  if (!testsupport::ReadKeyFile(std::string(reinterpret_cast<const char*>(data), size), "fuzz",
                                &file))
    return 0;
  const std::string written = Written(file.tree);
  testsupport::KeyFile again;
  if (!testsupport::ReadKeyFile(written, "fuzz", &again)) std::abort();
  if (Written(again.tree) != written) std::abort();

  cfgkit::FileIdentity identity;
  identity.exists = true;
  identity.size = size;
  std::string image = testsupport::ImageOf(file.tree, file.top, "fuzz.XML", identity, 0, 1);
  fsio::FileOps& ops = fsio::PosixFileOps();
  if (!fsio::ReplaceFile(ops, imageFile.path, image, fsio::Permissions::kPrivate).ok()) return 0;
  auto snapshot = cfgkit::Snapshot::Open(ops, imageFile.path, "fuzz.XML", identity);
  if (!snapshot) std::abort();
  cfgkit::KeyTree mapped;
  mapped.AddTopFromSnapshot("fuzz", snapshot.get());
  if (Written(mapped) != written) std::abort();
  return 0;
}
