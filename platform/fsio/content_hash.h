// The one 64-bit hash of the platform (XXH3 from libxxhash): digests of file
// bytes, checksums of snapshot images and their blocks, and name indexes.
// It detects corruption and edits; it does not resist deliberate collisions,
// so trust decisions rest on file ownership and modes, never on it.
#pragma once

#include <cstdint>
#include <string_view>

namespace fsio {

uint64_t Hash64(std::string_view bytes);

}  // namespace fsio
