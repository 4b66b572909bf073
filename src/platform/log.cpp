#include "platform/log.h"

#include <cstring>
#include <iostream>

namespace hvc {

namespace {
// 32 bits whatever the width of long, so that 0x8004100e prints as 8004100e everywhere.
unsigned long Hex32(HRESULT hr) {
  return static_cast<std::uint32_t>(hr);
}
}  // namespace

void LogStep(const char* format, HRESULT hr) {
  if (format == nullptr)
    return;
  if (std::strchr(format, '%') != nullptr)
    LogMsg(format, AsHex(hr));
  else
    LogMsg(format);
}

void ReportHresult(const char* message, HRESULT hr) {
  std::cout << message << std::hex << Hex32(hr) << std::endl;
}

void ReportHresultWithLastError(const char* message, HRESULT hr) {
  const DWORD lastError = GetLastError();
  std::cout << message << std::hex << Hex32(hr) << "--->" << lastError << std::endl;
}

void ReportVmQueryFailure(HRESULT hr) {
  std::cout << "Query for VMs list failed.";
  ReportHresult(" Error code = 0x", hr);
}

}  // namespace hvc
