#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "winapi/accounting.h"
#include "internal.h"

namespace winapi {
namespace {

// Each thread counts in cells of its own, which only that thread writes: a BSTR or a COM object is
// made and freed millions of times in one walk of a large host, and a locked add on each of them
// took a sixth of the time of a loop of round trips through the simulated host. A reader sums the
// cells of the threads alive and what the threads that ended left behind. A resource freed on
// another thread than the one that made it leaves one cell high and the other low; the sum is
// right.
enum Kind { kBstrs, kSafeArrays, kComObjects, kKinds };

// A thread's cells are listed in the registry on its first count and unlisted when it ends; a
// count made after that (by a later thread-exit destructor) goes to the registry directly.
enum class Listing : unsigned char { unlisted, listed, ended };

struct Cells {
  std::atomic<long> counts[kKinds] = {};
  Listing listing = Listing::unlisted;
};

struct Registry {
  std::mutex lock;
  std::vector<const Cells*> live;
  long ended[kKinds] = {};
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: threads may end after static destruction
  return *registry;
}

// Constant-initialised, so reaching it costs no guard, and in the program's static thread storage
// (this layer is loaded with the program), so reaching it costs no call.
[[gnu::tls_model("initial-exec")]] thread_local Cells t_cells;

// Takes this thread's cells out of the registry when the thread ends, keeping their counts.
struct Unlist {
  ~Unlist() {
    Registry& r = TheRegistry();
    const std::lock_guard<std::mutex> hold(r.lock);
    for (int k = 0; k < kKinds; ++k)
      r.ended[k] += t_cells.counts[k].load(std::memory_order_relaxed);
    std::erase(r.live, &t_cells);
    t_cells.listing = Listing::ended;
  }
};

[[gnu::noinline]] void CountSlowly(Cells& cells, Kind kind, long delta) {
  Registry& r = TheRegistry();
  if (cells.listing == Listing::ended) {
    const std::lock_guard<std::mutex> hold(r.lock);
    r.ended[kind] += delta;
    return;
  }
  static thread_local Unlist unlist;  // constructed here, so destroyed when this thread ends
  (void)unlist;
  {
    const std::lock_guard<std::mutex> hold(r.lock);
    r.live.push_back(&cells);
    cells.listing = Listing::listed;
  }
  cells.counts[kind].store(delta, std::memory_order_relaxed);
}

void Count(Kind kind, long delta) {
  Cells& cells = t_cells;
  if (cells.listing != Listing::listed) [[unlikely]] {
    CountSlowly(cells, kind, delta);
    return;
  }
  // Only this thread writes the cell: a plain load and store, no locked add. Readers see either value.
  std::atomic<long>& cell = cells.counts[kind];
  cell.store(cell.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

long Total(Kind kind) {
  Registry& r = TheRegistry();
  const std::lock_guard<std::mutex> hold(r.lock);
  long sum = r.ended[kind];
  for (const Cells* cells : r.live)
    sum += cells->counts[kind].load(std::memory_order_relaxed);
  return sum;
}

thread_local long t_comInits = 0;
thread_local std::wstring t_failingPut;  // prefix of the element whose put fails; empty: none
thread_local bool t_putFails = false;
}  // namespace

namespace detail {
void CountBstrs(long delta) {
  Count(kBstrs, delta);
}
void CountSafeArrays(long delta) {
  Count(kSafeArrays, delta);
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
  Count(kComObjects, +1);
}
void ComObjectDestroyed() {
  Count(kComObjects, -1);
}

void FailSafeArrayPut(const wchar_t* prefix) {
  t_putFails = prefix != nullptr;
  t_failingPut = prefix != nullptr ? prefix : L"";
}

LiveCounts CurrentCounts() {
  return LiveCounts{Total(kBstrs), Total(kSafeArrays), Total(kComObjects), t_comInits};
}

}  // namespace winapi
