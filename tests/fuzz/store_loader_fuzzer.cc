// Arbitrary bytes as a store file. Loading must never crash, whatever loads
// must write out and load again to the very same file, and its snapshot
// image must read back as the same file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ImageFile imageFile;
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
