// libFuzzer's entry point for the one target this executable is built for (HVC_FUZZ_ENTRY).
#include "targets.hpp"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const char* broken = hvc::fuzz::HVC_FUZZ_ENTRY(data, size)) {
    std::fprintf(stderr, "invariant broken: %s\n", broken);
    std::abort();
  }
  return 0;
}
