// The library's three diagnostic channels: the host's log, printf lines and std::cout reports.
#pragma once

#include <windows.h>

#include <cstdint>

#include "wintvlogger.h"

namespace hvc {

inline constexpr int kLogModule = 15;
inline constexpr int kLogType = 2;

// One line in the host's log; the logger's result is never used.
template <class... Args>
void LogMsg(const char* format, Args... args) {
  if constexpr (sizeof...(Args) == 0) {
    // A line without arguments is logged as it stands.
    TvLogger::TorvaneLogMsg(kLogModule, kLogType, "%s", format);
  } else {
    TvLogger::TorvaneLogMsg(kLogModule, kLogType, format, args...);
  }
}

// Writes `message` (which ends in "= 0x"), the HRESULT in lower-case hexadecimal and std::endl to
// std::cout. The stream is left in hexadecimal, as callers of the original interface observe.
void ReportHresult(const char* message, HRESULT hr);
// The same, then "--->", the thread's last Win32 error in hexadecimal, and std::endl.
void ReportHresultWithLastError(const char* message, HRESULT hr);

// ReturnValue and other 16-bit codes are printed as signed 16-bit numbers (32775 as -32761).
inline int AsSigned16(unsigned long value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

}  // namespace hvc
