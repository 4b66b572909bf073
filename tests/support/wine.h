// Known differences between Wine and Windows, for tests that run against both.
//
// HVC_EXPECT_UNLESS_WINE(cond, reason) expects cond; under Wine it does not evaluate cond (some
// differences are crashes) and records the known difference instead (printed, and kept as a test
// property). One assertion at a time, and only where Microsoft's documentation shows that the
// test, not Wine, is right.
#pragma once

#include <gtest/gtest.h>

#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace hvc::test {

inline bool RunningUnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports wine_get_version; Windows' does not.
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
#else
  return false;
#endif
}

inline void NoteWineDifference(const char* expression, const char* reason, const char* file, int line) {
  std::cout << file << ":" << line << ": known Wine difference, not checked: " << expression << " (" << reason << ")\n";
  testing::Test::RecordProperty("known_wine_difference", reason);
}

}  // namespace hvc::test

#define HVC_EXPECT_UNLESS_WINE(cond, reason)                              \
  do {                                                                    \
    if (::hvc::test::RunningUnderWine())                                  \
      ::hvc::test::NoteWineDifference(#cond, reason, __FILE__, __LINE__); \
    else                                                                  \
      EXPECT_TRUE(cond) << "(Wine differs here: " << reason << ")";       \
  } while (0)
