#include "com_object.hpp"

#include "winapi/accounting.h"

namespace simhost::com {
// The process's count lives beside the BSTRs and SAFEARRAYs: in our Windows API layer off Windows,
// in the tests' accounting library (accounting/) on Windows.
void count_object(long delta) noexcept {
  if (delta > 0)
    winapi::ComObjectCreated();
  else
    winapi::ComObjectDestroyed();
}
}  // namespace simhost::com
