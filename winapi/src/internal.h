// Shared between the layer's own sources; not part of its interface.
#pragma once

namespace winapi::detail {
// The live counts that accounting.h reports; each source adjusts its own.
void CountBstrs(long delta);
void CountSafeArrays(long delta);
long& ThreadComInits();                       // this thread's unbalanced successful CoInitialize(Ex) calls
bool TakePutFailure(const wchar_t* element);  // whether this put is the one FailSafeArrayPut chose
}  // namespace winapi::detail
