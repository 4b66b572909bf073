// Blocks that start on a cache line. Objects read on every call (an instance handed out, a kept
// query's run) put what the call touches in their first 64 bytes, reference counts included, so
// that reaching them waits for one line instead of two.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace simhost::cim {

template <class T>
struct LineAligned {
  using value_type = T;
  static constexpr std::align_val_t kLine{64};
  LineAligned() = default;
  template <class U>
  LineAligned(const LineAligned<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kLine)); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kLine); }
  template <class U>
  bool operator==(const LineAligned<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const LineAligned<U>&) const noexcept {
    return false;
  }
};

// make_shared, on a cache line.
template <class T, class... Args>
std::shared_ptr<T> make_line_aligned(Args&&... args) {
  return std::allocate_shared<T>(LineAligned<T>{}, std::forward<Args>(args)...);
}

}  // namespace simhost::cim
