// Arbitrary bytes as a store file. Loading must never crash, and whatever
// loads must write out and load again to the very same file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cfgkit/key_tree.h"
#include "cfgkit/xml_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  cfgkit::KeyTree tree;
  if (!cfgkit::ParseKeyFile(&bytes, "fuzz", &tree).ok()) return 0;
  std::string written = cfgkit::SerializeKey(tree, tree.FindSubkey(tree.Root(), "fuzz"));
  std::string reread = written;
  cfgkit::KeyTree again;
  if (!cfgkit::ParseKeyFile(&reread, "fuzz", &again).ok()) std::abort();
  if (cfgkit::SerializeKey(again, again.FindSubkey(again.Root(), "fuzz")) != written) std::abort();
  return 0;
}
