// Peak resident set of this process, measured per benchmark: the kernel's high-water mark is
// reset before each measured host is built, so one benchmark's peak does not hide the next's.
#pragma once

#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace hvcbench {

inline void ResetPeakRss() {
  malloc_trim(0);  // give freed heap back first, or the reset keeps the last benchmark's peak
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
