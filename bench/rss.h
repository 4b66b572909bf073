// Peak resident set of this process, measured per benchmark: the kernel's high-water mark is
// reset before each measured host is built, so one benchmark's peak does not hide the next's.
#pragma once

#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>

namespace hvcbench {

// Bytes of heap backed with 2 MB pages (prepare_heap), as hvcfg has it; 0 for the system's default
// pages.
inline std::size_t g_hugeHeap = 0;

inline void ResetPeakRss() {
  // On default pages, freed heap goes back first, or the reset keeps the last benchmark's peak. The
  // prepared heap is kept instead: trimming would give its 2 MB pages back, and the next host would
  // land on 4 KB pages. Benchmarks run from small hosts to large, and each reuses what the last
  // freed, so the peak is still the larger host's own.
  if (g_hugeHeap == 0)
    malloc_trim(0);
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
