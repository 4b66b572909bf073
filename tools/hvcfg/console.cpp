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
#define HVCFG_LSEEK _lseek
#define HVCFG_READ _read
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
#define HVCFG_LSEEK lseek
#define HVCFG_READ read
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
  if (verbose) {
    // Through a file rather than straight to standard error, so that the tool knows whether the
    // library left a line open before it writes its own.
    capture_ = std::tmpfile();
    sink_ = capture_ != nullptr ? HVCFG_DUP(HVCFG_FILENO(capture_)) : HVCFG_DUP(HVCFG_FILENO(stderr));
  } else {
    sink_ = HVCFG_OPEN(kNullDevice, kWriteOnly);
  }
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
  if (capture_ != nullptr)
    std::fclose(capture_);
}

void Console::Write(std::string_view text) {
  if (holding_)
    held_.append(text);
  else
    std::fwrite(text.data(), 1, text.size(), out_);
}

bool Console::Finish(bool keep) {
  if (keep)
    std::fwrite(held_.data(), 1, held_.size(), out_);
  held_.clear();
  holding_ = false;
  return std::fflush(out_) == 0 && !std::ferror(out_);
}

void Console::Pump() {
  if (capture_ == nullptr)
    return;
  FlushLibraryOutput();
  const int fd = HVCFG_FILENO(capture_);
  if (HVCFG_LSEEK(fd, pumped_, SEEK_SET) != pumped_)
    return;
  char buffer[4096];
  for (int got; (got = static_cast<int>(HVCFG_READ(fd, buffer, sizeof buffer))) > 0;) {
    std::fwrite(buffer, 1, static_cast<std::size_t>(got), stderr);
    pumped_ += got;
    lineOpen_ = buffer[got - 1] != '\n';
  }
}

void Console::Error(std::string_view line) {
  Pump();
  std::fflush(out_);  // the tool's lines so far come first
  if (lineOpen_)
    std::fputc('\n', stderr);
  lineOpen_ = false;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void Console::Log(std::string_view line) {
  logs_.emplace_back(line);
  Error("log: " + std::string(line));
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
  int result;
  {
    FlushLibraryOutput();
    HVCFG_DUP2(sink_, HVCFG_FILENO(stdout));
    const Diversion diversion(HVCFG_FILENO(out_));
    result = call();
  }
  Pump();
  return result;
}

}  // namespace hvcfg
