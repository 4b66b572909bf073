// Accounting of live COM resources, read by tests: every public call of the library must leave
// these where it found them.
#pragma once

#ifdef _WIN32
// Windows builds get these from the accounting library (accounting/), linked into the tests.
#ifndef WINAPI_LAYER_API
#define WINAPI_LAYER_API
#endif
#else
#include "winapi/base.h"
#endif

namespace winapi {

struct LiveCounts {
  long bstrs;       // BSTRs allocated and not yet freed
  long safearrays;  // SAFEARRAYs created and not yet destroyed
  long comObjects;  // COM objects (of any implementation that reports itself) alive
  long comInits;    // successful CoInitialize(Ex) calls not yet balanced, this thread
};

WINAPI_LAYER_API LiveCounts CurrentCounts();

#ifndef _WIN32
// The one failure of this layer that no simulated WMI call can stand for: the next
// SafeArrayPutElement on this thread of a BSTR that starts with `prefix` fails with E_OUTOFMEMORY,
// as it does when the copy of its element cannot be allocated (null: none fails). Linux builds
// only: on Windows the system's libraries answer.
WINAPI_LAYER_API void FailSafeArrayPut(const wchar_t* prefix);
#endif

// COM object implementations call these from their constructor and destructor.
WINAPI_LAYER_API void ComObjectCreated();
WINAPI_LAYER_API void ComObjectDestroyed();

}  // namespace winapi
