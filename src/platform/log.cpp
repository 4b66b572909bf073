#include "platform/log.h"

#include <iostream>

namespace hvc {

namespace {
// 32 bits whatever the width of long, so that 0x8004100e prints as 8004100e everywhere.
unsigned long Hex32(HRESULT hr) {
  return static_cast<std::uint32_t>(hr);
}
}  // namespace

void ReportHresult(const char* message, HRESULT hr) {
  std::cout << message << std::hex << Hex32(hr) << std::endl;
}

void ReportHresultWithLastError(const char* message, HRESULT hr) {
  const DWORD lastError = GetLastError();
  std::cout << message << std::hex << Hex32(hr) << "--->" << lastError << std::endl;
}

}  // namespace hvc
