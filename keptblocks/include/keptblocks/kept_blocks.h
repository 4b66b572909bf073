// Freed blocks kept per thread for reuse, by size class. Callers that allocate and free blocks of
// the same few sizes millions of times (a BSTR per path read, two or three COM objects per query)
// then get a block still in the processor's caches, without a trip through the allocator. Blocks
// are sized in granules, so that a kept block serves any request of its class; what a thread keeps
// is freed when it ends.
#pragma once

#include <cstddef>

namespace keptblocks {

#if defined(__ELF__)
#define KEPTBLOCKS_TLS [[gnu::tls_model("initial-exec")]]  // one load to reach: loaded with the program
#else
#define KEPTBLOCKS_TLS
#endif

// AddressSanitizer builds keep nothing: a freed block then stays poisoned, so that a use after free
// is caught. GCC says so with a macro, Clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define KEPTBLOCKS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEPTBLOCKS_SANITIZED 1
#endif
#endif
#if !defined(KEPTBLOCKS_SANITIZED)
#define KEPTBLOCKS_SANITIZED 0
#endif

// `Tag` gives each user blocks of its own; `release` frees a block that is not kept.
template <class Tag, std::size_t Granule, std::size_t Classes, std::size_t PerClass, void (*release)(void*)>
class KeptBlocks {
 public:
  // False in builds that keep nothing: Take then finds nothing, Keep refuses. Windows builds keep
  // nothing either: under Wine the MinGW-w64 runtime does not run a thread's thread_local
  // destructors when it ends (tests/keptblocks shows it), so what a thread kept would be lost.
#if defined(_WIN32)
  static constexpr bool kKeeps = false;
#else
  static constexpr bool kKeeps = !KEPTBLOCKS_SANITIZED;
#endif

  // The size to allocate for `bytes`: its class's, when it has one.
  static std::size_t BlockBytes(std::size_t bytes) noexcept {
    return ClassOf(bytes) < Classes ? (ClassOf(bytes) + 1) * Granule : bytes;
  }
  // A kept block for `bytes`, or null.
  static void* Take(std::size_t bytes) noexcept {
    const std::size_t k = ClassOf(bytes);
    if (!kKeeps || state_ != State::open || k >= Classes || kept_[k].count == 0)
      return nullptr;
    return kept_[k].blocks[--kept_[k].count];
  }
  // Keeps a block allocated for `bytes`; false when it is not kept and the caller frees it.
  static bool Keep(void* block, std::size_t bytes) noexcept {
    const std::size_t k = ClassOf(bytes);
    if (!kKeeps || k >= Classes || state_ == State::closed || kept_[k].count == PerClass)
      return false;
    if (state_ == State::unused) {
      // The thread's first kept block: what is kept is freed when the thread ends.
      struct Closer {
        ~Closer() {
          state_ = State::closed;
          for (auto& kept : kept_)
            while (kept.count > 0)
              release(kept.blocks[--kept.count]);
        }
      };
      thread_local Closer closer;
      (void)closer;
      state_ = State::open;
    }
    kept_[k].blocks[kept_[k].count++] = block;
    return true;
  }

 private:
  struct Class {
    void* blocks[PerClass];
    std::size_t count;
  };
  enum class State : unsigned char { unused, open, closed };
  static std::size_t ClassOf(std::size_t bytes) noexcept {
    return (bytes - 1) / Granule;
  }

  // Plain data, so that reaching it costs one load.
  KEPTBLOCKS_TLS static inline thread_local Class kept_[Classes];
  KEPTBLOCKS_TLS static inline thread_local State state_ = State::unused;
};

}  // namespace keptblocks
