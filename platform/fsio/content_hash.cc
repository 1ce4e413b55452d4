#include "fsio/content_hash.h"

// Compiled in from the header: nothing to link, statically or not.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace fsio {

uint64_t Hash64(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

}  // namespace fsio
