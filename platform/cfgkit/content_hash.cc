#include "cfgkit/content_hash.h"

#include <cstring>

namespace cfgkit {
namespace {

constexpr uint64_t kPrimeA = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrimeB = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrimeC = 0x165667B19E3779F9ull;

uint64_t RotateLeft(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

uint64_t LoadWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

uint64_t Mix(uint64_t lane, uint64_t word) {
  return RotateLeft(lane + word * kPrimeA, 31) * kPrimeB;
}

uint64_t Avalanche(uint64_t x) {
  x ^= x >> 33;
  x *= kPrimeA;
  x ^= x >> 29;
  x *= kPrimeC;
  return x ^ (x >> 32);
}

}  // namespace

uint64_t ContentHash(std::string_view bytes) {
  const char* p = bytes.data();
  const size_t size = bytes.size();
  // Four independent lanes keep the multiplier busy: several bytes per cycle.
  uint64_t lanes[4] = {kPrimeA + kPrimeB, kPrimeB, 0, 0 - kPrimeA};
  size_t at = 0;
  for (; at + 32 <= size; at += 32) {
    for (int lane = 0; lane < 4; ++lane)
      lanes[lane] = Mix(lanes[lane], LoadWord(p + at + 8 * lane));
  }
  uint64_t hash = RotateLeft(lanes[0], 1) + RotateLeft(lanes[1], 7) + RotateLeft(lanes[2], 12) +
                  RotateLeft(lanes[3], 18) + size;
  for (; at + 8 <= size; at += 8) hash = Mix(hash, LoadWord(p + at));
  uint64_t tail = 0;
  if (at < size) std::memcpy(&tail, p + at, size - at);
  hash = Mix(hash ^ (size - at), tail);
  return Avalanche(hash);
}

}  // namespace cfgkit
