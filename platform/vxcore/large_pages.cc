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

}  // namespace

void BackHeapWithLargePages() {
  // Under a limit of address space the reserve could exhaust it on its own.
  struct rlimit space;
  if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) return;
  mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
  mallopt(M_TRIM_THRESHOLD, 2 * kHeapReserve);
  mallopt(M_TOP_PAD, kHeapReserve);
  auto start = reinterpret_cast<uintptr_t>(sbrk(0));
  // More than the heap has left makes it grow by the whole reserve. Through
  // a volatile pointer, or the compiler drops the pair.
  void* volatile grow = std::malloc(1 << 20);
  std::free(grow);
  auto end = reinterpret_cast<uintptr_t>(sbrk(0));
  uintptr_t from = (start + kLargePage - 1) & ~(kLargePage - 1);
  if (end > from) madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
}

}  // namespace core
