// The per-thread block cache: a kept block serves only requests of its size class, each class keeps
// a bounded number, what a thread keeps is released when it ends, and AddressSanitizer and Windows
// builds keep nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "keptblocks/kept_blocks.h"
#include "sanitizer.h"

namespace {

std::atomic<int> g_released{0};

void ReleaseBlock(void* block) {
  ++g_released;
  std::free(block);
}
struct TestTag;
using Blocks = keptblocks::KeptBlocks<TestTag, 16, 4, 2, ReleaseBlock>;  // classes of 16 to 64 bytes, two each

void* Allocate(std::size_t bytes) {
  return std::malloc(Blocks::BlockBytes(bytes));
}

constexpr bool kSanitized = HVC_TEST_ASAN;

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(KeptBlocks, KeepsNothingUnderAddressSanitizerOrOnWindows) {
  EXPECT_EQ(Blocks::kKeeps, !kSanitized && !kWindows);
  std::thread([] {
    void* block = Allocate(8);
    EXPECT_EQ(Blocks::Keep(block, 8), Blocks::kKeeps);
    EXPECT_EQ(Blocks::Take(8), Blocks::kKeeps ? block : nullptr);
    std::free(block);
  }).join();
}

TEST(KeptBlocks, ServesOnlyItsOwnClassAndKeepsABoundedNumber) {
  if (!Blocks::kKeeps)
    GTEST_SKIP() << "this build keeps nothing";
  const int releasedBefore = g_released;
  std::thread([releasedBefore] {
    struct Row {
      std::size_t kept, asked;
      bool served;
    } rows[] = {
        {1, 16, true},    // one class: 1 to 16 bytes
        {17, 32, true},   // the class's largest request fits its block
        {32, 33, false},  // the next class up
        {48, 20, false},  // a larger class does not serve a smaller one
        {64, 64, true},   // the last kept class
    };
    for (const Row& row : rows) {
      void* block = Allocate(row.kept);
      ASSERT_TRUE(Blocks::Keep(block, row.kept)) << row.kept;
      void* taken = Blocks::Take(row.asked);
      EXPECT_EQ(taken != nullptr, row.served) << row.kept << " for " << row.asked;
      EXPECT_TRUE(taken == nullptr || taken == block);
      if (taken == nullptr) {
        EXPECT_EQ(Blocks::Take(row.kept), block);
      }
      std::free(block);
    }
    EXPECT_EQ(Blocks::BlockBytes(65), 65u) << "beyond the classes: the size asked";
    void* large = std::malloc(65);
    EXPECT_FALSE(Blocks::Keep(large, 65));
    std::free(large);

    // Two a class: the third is refused, and the caller frees it.
    std::vector<void*> blocks = {Allocate(8), Allocate(8), Allocate(8), Allocate(40)};
    EXPECT_TRUE(Blocks::Keep(blocks[0], 8));
    EXPECT_TRUE(Blocks::Keep(blocks[1], 8));
    EXPECT_FALSE(Blocks::Keep(blocks[2], 8));
    std::free(blocks[2]);
    EXPECT_TRUE(Blocks::Keep(blocks[3], 40));
    EXPECT_EQ(g_released - releasedBefore, 0) << "kept while the thread runs";
  }).join();
  EXPECT_EQ(g_released - releasedBefore, 3) << "the thread's end releases the blocks it kept";
}

}  // namespace
