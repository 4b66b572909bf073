#include "simhost/provider/heap.hpp"

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#endif

namespace simhost::provider {

std::size_t prepare_heap(std::size_t bytes) {
#if defined(__linux__) && defined(__GLIBC__)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  bytes = std::min<std::size_t>(bytes, std::size_t{1} << 30);
  if (bytes < kHugePage)
    return 0;
  // Blocks above the mapping threshold would each get a mapping of their own, outside the prepared
  // heap, faulted anew each time; 32 MB is the largest threshold glibc takes.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  // Trimming would hand the prepared pages back to the kernel.
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  mallopt(M_TOP_PAD, static_cast<int>(bytes));
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  // A block larger than the free top of the heap makes the allocator grow it by the block and the
  // pad; freed, the block goes back to the top. Volatile, or the pair is optimised away.
  void* volatile grow = std::malloc(mallinfo2().keepcost + kHugePage);
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::free(grow);
  mallopt(M_TOP_PAD, 128 * 1024);  // later growth, if any, in glibc's usual steps
  const std::uintptr_t lo = (before + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t hi = after & ~(kHugePage - 1);
  if (hi <= lo || madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE) != 0)
    return 0;
  return hi - lo;
#else
  (void)bytes;
  return 0;
#endif
}

}  // namespace simhost::provider
