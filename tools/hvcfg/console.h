// Keeps standard output for the tool's own results. The library writes diagnostics to standard
// output with printf and std::cout; while one of its calls runs, descriptor 1 points at a capture
// file that is copied to standard error (--verbose) or at the null device, and the tool writes to
// a stream on a copy of the original descriptor, which no diversion touches.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hvcfg {

class Console {
 public:
  explicit Console(bool verbose);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The tool's results: written at once, or, after Hold, kept until Finish, so that a command
  // whose change cannot be saved does not claim it.
  void Write(std::string_view text);
  void Hold() { holding_ = true; }
  // Writes what was held when `keep`, and flushes; false when standard output could not take it.
  bool Finish(bool keep);

  // One line on standard error: the tool's message or a log line of the library. It starts on a
  // line of its own when the library's output left its last line open.
  void Error(std::string_view line);
  // Log lines seen so far, as the library wrote them.
  const std::vector<std::string>& logs() const { return logs_; }
  void Log(std::string_view line);

  // Runs `call` with descriptor 1 diverted and returns its result.
  int Library(const std::function<int()>& call);

 private:
  void Pump();  // what the library wrote since the last pump, onto standard error

  std::FILE* out_ = stdout;
  int sink_ = -1;          // where descriptor 1 points during a library call; -1: no diversion
  std::FILE* capture_{};   // --verbose: the file behind sink_, copied to standard error
  long pumped_ = 0;        // bytes of capture_ already copied
  bool lineOpen_ = false;  // the library's output on standard error ends inside a line
  bool holding_ = false;
  std::string held_;
  std::vector<std::string> logs_;
};

}  // namespace hvcfg
