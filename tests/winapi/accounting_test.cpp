// The live counts of our Windows API layer when threads make and free what others use: each thread
// counts apart, and the sum must still be exact.
#include <gtest/gtest.h>
#include <oleauto.h>

#include <thread>

#include "winapi/accounting.h"

namespace {

TEST(LiveCounts, SumEveryThreadAliveOrEnded) {
  const long before = winapi::CurrentCounts().bstrs;

  // Made on a thread that has ended by the time it is freed, and freed on another that ends too.
  BSTR made = nullptr;
  std::thread([&] { made = SysAllocString(L"kept"); }).join();
  EXPECT_EQ(winapi::CurrentCounts().bstrs, before + 1);
  std::thread([&] { SysFreeString(made); }).join();
  EXPECT_EQ(winapi::CurrentCounts().bstrs, before);

  // Made by a thread that is still running: this one.
  BSTR mine = SysAllocString(L"mine");
  EXPECT_EQ(winapi::CurrentCounts().bstrs, before + 1);
  SysFreeString(mine);
  EXPECT_EQ(winapi::CurrentCounts().bstrs, before);

  // Freed by a thread-exit destructor that runs after the thread's own counts were taken away.
  std::thread([] {
    struct Owner {
      BSTR text = nullptr;
      ~Owner() { SysFreeString(text); }
    };
    thread_local Owner owner;  // made before the thread's first count, so destroyed after it
    owner.text = SysAllocString(L"late");
  }).join();
  EXPECT_EQ(winapi::CurrentCounts().bstrs, before);
}

}  // namespace
