// Peak resident set of this process, measured per benchmark: the kernel's high-water mark is
// reset before each measured host is built, so one benchmark's peak does not hide the next's.
#pragma once

#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>

#include "simhost/provider/heap.hpp"

namespace hvcbench {

// Bytes of heap to back with 2 MB pages before each measured host is built; 0 for the system's
// default pages.
inline std::size_t g_hugeHeap = 0;

inline void ResetPeakRss() {
  malloc_trim(0);  // give freed heap back first, or the reset keeps the last benchmark's peak
  // The trim also gave back the heap prepared on 2 MB pages, which hvcfg keeps for its whole run.
  // Preparing touches nothing, so the peak below still starts from what is in use.
  if (g_hugeHeap != 0)
    simhost::provider::prepare_heap(g_hugeHeap);
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

// VmHWM in MB; 0 where /proc does not tell.
inline double PeakRssMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stod(line.substr(6)) / 1024.0;
    }
  }
  return 0;
}

}  // namespace hvcbench
