#include "com_object.hpp"

#if defined(_WIN32)
#include <atomic>
namespace simhost::com {
namespace {
std::atomic<long> g_live{0};
}
void count_object(long delta) noexcept { g_live += delta; }
long live_objects() noexcept { return g_live.load(); }
} // namespace simhost::com
#else
#include "winapi/accounting.h"
namespace simhost::com {
// Our Windows API layer keeps the process's count, beside its BSTRs and SAFEARRAYs.
void count_object(long delta) noexcept
{
    if (delta > 0) winapi::ComObjectCreated();
    else winapi::ComObjectDestroyed();
}
} // namespace simhost::com
#endif
