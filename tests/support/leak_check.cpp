// Fails any test that leaves a BSTR, SAFEARRAY, COM object or COM initialisation behind.
#include <gtest/gtest.h>

#include "winapi/accounting.h"

namespace {

class LeakCheck : public testing::EmptyTestEventListener {
  winapi::LiveCounts before_{};

  void OnTestStart(const testing::TestInfo&) override { before_ = winapi::CurrentCounts(); }
  void OnTestEnd(const testing::TestInfo& info) override {
    if (info.result() == nullptr || info.result()->Skipped())
      return;
    const winapi::LiveCounts after = winapi::CurrentCounts();
    EXPECT_EQ(after.bstrs, before_.bstrs) << "BSTRs left alive by " << info.name();
    EXPECT_EQ(after.safearrays, before_.safearrays) << "SAFEARRAYs left alive by " << info.name();
    EXPECT_EQ(after.comObjects, before_.comObjects) << "COM objects left alive by " << info.name();
    EXPECT_EQ(after.comInits, before_.comInits) << "COM initialisations left by " << info.name();
  }
};

const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
  return true;
}();

}  // namespace
