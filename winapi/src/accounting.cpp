#include <atomic>
#include <string>
#include <string_view>

#include "winapi/accounting.h"
#include "internal.h"

namespace winapi {
namespace {
std::atomic<long> g_bstrs{0};
std::atomic<long> g_safearrays{0};
std::atomic<long> g_comObjects{0};
thread_local long t_comInits = 0;
thread_local std::wstring t_failingPut;  // prefix of the element whose put fails; empty: none
thread_local bool t_putFails = false;
}  // namespace

namespace detail {
void CountBstrs(long delta) {
  g_bstrs += delta;
}
void CountSafeArrays(long delta) {
  g_safearrays += delta;
}
long& ThreadComInits() {
  return t_comInits;
}
bool TakePutFailure(const wchar_t* element) {
  if (!t_putFails || element == nullptr || std::wstring_view(element).substr(0, t_failingPut.size()) != t_failingPut)
    return false;
  t_putFails = false;
  return true;
}
}  // namespace detail

void ComObjectCreated() {
  ++g_comObjects;
}
void ComObjectDestroyed() {
  --g_comObjects;
}

void FailSafeArrayPut(const wchar_t* prefix) {
  t_putFails = prefix != nullptr;
  t_failingPut = prefix != nullptr ? prefix : L"";
}

LiveCounts CurrentCounts() {
  return LiveCounts{g_bstrs.load(), g_safearrays.load(), g_comObjects.load(), t_comInits};
}

}  // namespace winapi
