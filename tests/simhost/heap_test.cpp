// The heap a large host is loaded into: the kernel, not our own return value, tells whether the
// pages may be huge (the "THPeligible" line of /proc/self/smaps, Linux's proc(5)).
#include "simhost/provider/heap.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sanitizer.h"

namespace simhost::provider {
namespace {

#if defined(__linux__) && defined(__GLIBC__) && !HVC_TEST_ASAN
// The THPeligible value of the mapping that holds `p`, or -1.
int HugePageEligible(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t lo = 0;
    std::uintptr_t hi = 0;
    char dash = 0;
    if (std::istringstream range(line); range >> std::hex >> lo >> dash >> hi && dash == '-') {
      inside = lo <= at && at < hi;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return std::stoi(line.substr(12));
    }
  }
  return -1;
}

TEST(PrepareHeapTest, LaterBlocksLieInMemoryTheKernelMayBackWithHugePages) {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(mode, modes);
  if (modes.empty() || modes.find("[never]") != std::string::npos)
    GTEST_SKIP() << "transparent huge pages are off on this machine";

  EXPECT_EQ(prepare_heap(std::size_t{1} << 20), 0u) << "less than one huge page";
  const std::size_t backed = prepare_heap(std::size_t{64} << 20);
  ASSERT_GE(backed, std::size_t{60} << 20);
  // 8 MB is above glibc's usual mapping threshold: without the prepared heap the block would get
  // a mapping of its own, on small pages. Its start may lie before the first huge-page boundary.
  const std::vector<char> block(std::size_t{8} << 20, 'x');
  EXPECT_EQ(HugePageEligible(&block.back()), 1);
}
#else
TEST(PrepareHeapTest, DoesNothingWithoutGlibcsHeap) {
  EXPECT_EQ(prepare_heap(std::size_t{64} << 20), 0u);
}
#endif

}  // namespace
}  // namespace simhost::provider
