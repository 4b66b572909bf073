#include "console.h"

#include <fcntl.h>

#include <iostream>

#if defined(_WIN32)
#include <io.h>
#define HVCFG_DUP _dup
#define HVCFG_DUP2 _dup2
#define HVCFG_CLOSE _close
#define HVCFG_OPEN _open
#define HVCFG_FDOPEN _fdopen
#define HVCFG_FILENO _fileno
constexpr const char* kNullDevice = "NUL";
constexpr int kWriteOnly = _O_WRONLY;
#else
#include <unistd.h>
#define HVCFG_DUP dup
#define HVCFG_DUP2 dup2
#define HVCFG_CLOSE close
#define HVCFG_OPEN open
#define HVCFG_FDOPEN fdopen
#define HVCFG_FILENO fileno
constexpr const char* kNullDevice = "/dev/null";
constexpr int kWriteOnly = O_WRONLY;
#endif

namespace hvcfg {

namespace {

// Both C stdio and the C++ streams may hold text the library wrote before a switch.
void FlushLibraryOutput() {
  std::cout.flush();
  std::fflush(stdout);
}

}  // namespace

Console::Console(bool verbose) {
  std::fflush(stdout);
  const int original = HVCFG_DUP(HVCFG_FILENO(stdout));
  if (original < 0)
    return;  // no standard output to keep apart: write to it directly
  std::FILE* stream = HVCFG_FDOPEN(original, "w");
  if (stream == nullptr) {
    HVCFG_CLOSE(original);
    return;
  }
  sink_ = verbose ? HVCFG_DUP(HVCFG_FILENO(stderr)) : HVCFG_OPEN(kNullDevice, kWriteOnly);
  if (sink_ < 0) {
    std::fclose(stream);
    return;
  }
  out_ = stream;
}

Console::~Console() {
  if (out_ != stdout)
    std::fclose(out_);
  if (sink_ >= 0)
    HVCFG_CLOSE(sink_);
}

int Console::Library(const std::function<int()>& call) {
  std::fflush(out_);  // keeps the tool's lines ahead of what the call writes to standard error
  if (sink_ < 0)
    return call();
  struct Diversion {
    explicit Diversion(int target) : restore(target) {}
    ~Diversion() {
      FlushLibraryOutput();
      HVCFG_DUP2(restore, HVCFG_FILENO(stdout));
    }
    int restore;
  };
  FlushLibraryOutput();
  HVCFG_DUP2(sink_, HVCFG_FILENO(stdout));
  const Diversion diversion(HVCFG_FILENO(out_));
  return call();
}

}  // namespace hvcfg
