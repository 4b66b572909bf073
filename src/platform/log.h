// The library's three diagnostic channels: the host's log, printf lines and std::cout reports.
#pragma once

#include <windows.h>

#include <cstdint>

#include "wintvlogger.h"

namespace hvc {

inline constexpr int kLogModule = 15;
inline constexpr int kLogType = 2;

// One line in the host's log; the logger's result is never used. A line without arguments is
// its own format: every text logged is a literal of the library, so none holds a stray '%'.
template <class... Args>
void LogMsg(const char* format, Args... args) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  TvLogger::TorvaneLogMsg(kLogModule, kLogType, format, args...);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

// HRESULTs and member results are printed with "%x" as 32-bit values.
inline unsigned AsHex(long value) {
  return static_cast<unsigned>(value);
}

// Logs a step's failure line, given `hr` only when the line has a conversion for it; null logs
// nothing.
void LogStep(const char* format, HRESULT hr);

// Writes `message` (which ends in "= 0x"), the HRESULT in lower-case hexadecimal and std::endl to
// std::cout. The stream is left in hexadecimal on purpose: the numbers of the lines that follow,
// in this call and in later ones, are printed in hexadecimal too, and their readers take them so.
void ReportHresult(const char* message, HRESULT hr);
// The same, then "--->", the thread's last Win32 error in hexadecimal, and std::endl.
void ReportHresultWithLastError(const char* message, HRESULT hr);
// "Query for VMs list failed." and the HRESULT, as every machine and switch query reports it.
void ReportVmQueryFailure(HRESULT hr);

// ReturnValue and other 16-bit codes are shown as signed 16-bit numbers (32775 as -32761; in
// hexadecimal as 8007).
inline std::int16_t AsSigned16(unsigned long value) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

}  // namespace hvc
