#include <atomic>

#include "winapi/accounting.h"
#include "internal.h"

namespace winapi {
namespace {
std::atomic<long> g_bstrs{0};
std::atomic<long> g_safearrays{0};
std::atomic<long> g_comObjects{0};
thread_local long t_comInits = 0;
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
}  // namespace detail

void ComObjectCreated() {
  ++g_comObjects;
}
void ComObjectDestroyed() {
  --g_comObjects;
}

LiveCounts CurrentCounts() {
  return LiveCounts{g_bstrs.load(), g_safearrays.load(), g_comObjects.load(), t_comInits};
}

}  // namespace winapi
