// Keeps standard output for the tool's own results. The library writes diagnostics to standard
// output with printf and std::cout; while one of its calls runs, descriptor 1 points at standard
// error (--verbose) or at the null device, and the tool writes to a stream on a copy of the
// original descriptor, which no diversion touches.
#pragma once

#include <cstdio>
#include <functional>

namespace hvcfg {

class Console {
 public:
  explicit Console(bool verbose);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The tool's standard output.
  std::FILE* out() const { return out_; }

  // Runs `call` with descriptor 1 diverted and returns its result.
  int Library(const std::function<int()>& call);

 private:
  std::FILE* out_ = stdout;
  int sink_ = -1;  // where descriptor 1 points during a library call; -1: no diversion
};

}  // namespace hvcfg
