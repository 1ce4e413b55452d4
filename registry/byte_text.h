// Names and values are byte strings; outputs for machines carry them as text
// when they are UTF-8 and in hex otherwise.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Whether all of `bytes` is well-formed UTF-8 (no overlong form, no surrogate).
bool IsValidUtf8(std::string_view bytes);

// Lower-case hex digits, two per byte.
std::string HexEncode(std::string_view bytes);

// Whether `text` holds the byte `a` or `b`. Asked of every name a listing
// shows, most of them short and holding neither: eight bytes are tested at
// once, the last eight overlapping the ones before, with no branch per byte.
[[gnu::always_inline]] inline bool HoldsEither(std::string_view text, char a, char b) {
  constexpr uint64_t kOnes = 0x0101010101010101, kHigh = kOnes * 0x80;
  const uint64_t wordA = kOnes * static_cast<unsigned char>(a);
  const uint64_t wordB = kOnes * static_cast<unsigned char>(b);
  auto holds = [&](uint64_t word) {
    const uint64_t x = word ^ wordA, y = word ^ wordB;
    return (((x - kOnes) & ~x) | ((y - kOnes) & ~y)) & kHigh;
  };
  const char* bytes = text.data();
  const size_t size = text.size();
  if (size < 4) {
    bool found = false;
    for (size_t i = 0; i < size; ++i) found |= (bytes[i] == a) | (bytes[i] == b);
    return found;
  }
  if (size < 8) {
    uint32_t low, high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + size - 4, 4);
    return holds(uint64_t{high} << 32 | low) != 0;
  }
  uint64_t word;
  for (size_t i = 0; i + 8 < size; i += 8) {
    std::memcpy(&word, bytes + i, 8);
    if (holds(word) != 0) return true;
  }
  std::memcpy(&word, bytes + size - 8, 8);
  return holds(word) != 0;
}
