// Shared between the layer's own sources; not part of its interface.
#pragma once

#include "winapi/oleauto.h"

namespace winapi::detail {
// The live counts that accounting.h reports; each source adjusts its own.
void CountBstrs(long delta);
void CountSafeArrays(long delta);
long& ThreadComInits();                                  // this thread's unbalanced successful CoInitialize(Ex) calls
BSTR CopyBstr(BSTR source);                              // same length, embedded zeros included
HRESULT CopyArray(SAFEARRAY* psa, SAFEARRAY** ppsaOut);  // a deep copy, as VariantCopy makes it
bool TakePutFailure(const wchar_t* element);             // whether this put is the one FailSafeArrayPut chose
}  // namespace winapi::detail
