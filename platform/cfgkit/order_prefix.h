// A name's first eight bytes as one number that orders as the bytes do, a
// shorter name padded with zeros: sorts of names compare these first, and the
// names themselves only where they agree.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace cfgkit {

// Many names are short: they are read in at most three loads, overlapping,
// with no loop over their bytes.
inline uint64_t OrderPrefix(std::string_view text) {
  constexpr bool kLittle = std::endian::native == std::endian::little;
  const char* bytes = text.data();
  const size_t size = text.size();
  if (size >= sizeof(uint64_t)) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return kLittle ? __builtin_bswap64(word) : word;
  }
  if (size >= sizeof(uint32_t)) {
    uint32_t first, last;
    std::memcpy(&first, bytes, sizeof first);
    std::memcpy(&last, bytes + size - sizeof last, sizeof last);
    if constexpr (kLittle) {
      first = __builtin_bswap32(first);
      last = __builtin_bswap32(last);
    }
    return uint64_t{first} << 32 | uint64_t{last} << (8 * (8 - size));
  }
  if (size == 0) return 0;
  auto byteAt = [bytes](size_t i) -> uint64_t { return static_cast<unsigned char>(bytes[i]); };
  const size_t middle = size / 2;
  return byteAt(0) << 56 | byteAt(middle) << (56 - 8 * middle) |
         byteAt(size - 1) << (56 - 8 * (size - 1));
}

}  // namespace cfgkit
