// Opening ROOT\VIRTUALIZATION where no Hyper-V host is: on Windows (and Wine) the WMI locator
// exists and the namespace does not; on Linux our layer has no WMI classes at all.
#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "hypervconfig.h"
#include "winapi/accounting.h"

namespace {

TEST(WmiNamespace, OpenFailsWithoutAHostAndCloseBalancesCom) {
  HypervConfig config;
  const long initsBefore = winapi::CurrentCounts().comInits;
  hvc::test::StreamCapture capture(stdout);
  const int opened = config.OpenWMINamespace();
  const std::string printed = capture.Take();

  EXPECT_EQ(opened, -1);
  EXPECT_EQ(winapi::CurrentCounts().comInits, initsBefore + 1) << "COM stays initialised until the close";
#ifdef _WIN32
  EXPECT_EQ(printed, "Could not connect. Error code = 0x8004100e\n");  // WBEM_E_INVALID_NAMESPACE
#else
  EXPECT_EQ(printed, "Failed to create IWbemLocator object. Err code = 0x80040154\n");  // REGDB_E_CLASSNOTREG
#endif
  EXPECT_EQ(config.CloseWMINamespace(), 0);
  EXPECT_EQ(winapi::CurrentCounts().comInits, initsBefore);
}

}  // namespace
