#include "vxcore/large_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace core {
namespace {

constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
// What the heap reserves at once: virtual space, paid for as it is touched.
constexpr int kHeapReserve = 64 << 20;
// The largest block glibc lets the heap serve instead of a fresh mapping.
constexpr int kLargestHeapBlock = 32 << 20;
constexpr uintptr_t kGrowth = 1 << 20;

}  // namespace

void BackHeapWithLargePages() {
  // Under a limit of address space the reserve could exhaust it on its own.
  struct rlimit space;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) return;
  mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
  mallopt(M_TRIM_THRESHOLD, 2 * kHeapReserve);
  mallopt(M_TOP_PAD, kHeapReserve);
  // More than the heap has left makes it grow by the whole reserve. Through
  // a volatile pointer, or the compiler drops the pair.
  void* volatile grow = std::malloc(kGrowth);
  // Growing wrote the free space's header after the block: a small page there
  // keeps a large page from backing the 2 MiB around it.
  const uintptr_t touched = reinterpret_cast<uintptr_t>(grow) + kGrowth;
  std::free(grow);
  const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  const uintptr_t from = (touched + kLargePage) & ~(kLargePage - 1);
  if (end <= from) return;
  madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
  // A block that fills the heap up to `from`, never touched nor freed, makes
  // the heap serve from large pages on: a Get touches one instead of some
  // twenty small ones, at about 10 us each on a virtual machine. The free
  // space at the heap's end starts where the end lies less what is kept there.
  const uintptr_t frontier = end - mallinfo2().keepcost;
  constexpr uintptr_t kChunkHeader = 2 * sizeof(size_t);
  if (from > frontier + kChunkHeader) {
    void* volatile filler = std::malloc(from - frontier - kChunkHeader);
    static_cast<void>(filler);
  }
}

}  // namespace core
