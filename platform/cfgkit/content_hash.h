// A fast 64-bit digest of a file's bytes. A snapshot image records the digest
// of the file it was made from, so that a file changed too recently for its
// timestamps to tell can still be compared with the image by content. Not
// meant to resist deliberate collisions: it guards against edits, not attacks.
#pragma once

#include <cstdint>
#include <string_view>

namespace cfgkit {

uint64_t ContentHash(std::string_view bytes);

}  // namespace cfgkit
