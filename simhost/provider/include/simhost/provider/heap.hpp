// Backs the heap that a large simulated host is about to fill with 2 MB pages.
#pragma once

#include <cstddef>

namespace simhost::provider {

// Loading a 1024-machine host touches about 90 MB at once. On 4 KB pages that is some 22,000 page
// faults, which on a virtual machine cost as much as the load itself. This grows the heap by
// `bytes` ahead of need and asks the kernel for transparent huge pages there (honoured where the
// system's setting is "madvise" or "always").
//
// It changes allocator settings for the whole process: large blocks stay in the heap instead of
// getting mappings of their own, and freed memory is kept for reuse, not handed back. So a program
// calls it once, before it loads a large host; a library never does. Returns the bytes so backed:
// 0 where there is no such heap (not glibc on Linux, or the allocator is replaced, as under the
// sanitizers and valgrind) or when `bytes` is below one huge page.
std::size_t prepare_heap(std::size_t bytes);

}  // namespace simhost::provider
