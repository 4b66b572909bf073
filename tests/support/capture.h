// Captures what a stream (stdout or stderr) receives at the descriptor level, so that printf,
// std::cout and anything else that writes to the descriptor are all caught, in order.
#pragma once

#include <cstdio>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#define HVC_DUP _dup
#define HVC_DUP2 _dup2
#define HVC_CLOSE _close
#define HVC_FILENO _fileno
#else
#include <unistd.h>
#define HVC_DUP dup
#define HVC_DUP2 dup2
#define HVC_CLOSE close
#define HVC_FILENO fileno
#endif

namespace hvc::test {

class StreamCapture {
 public:
  explicit StreamCapture(FILE* stream) : stream_(stream), file_(std::tmpfile()) {
    Flush();
    saved_ = HVC_DUP(HVC_FILENO(stream_));
    if (file_ != nullptr)
      HVC_DUP2(HVC_FILENO(file_), HVC_FILENO(stream_));
  }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;
  ~StreamCapture() { Restore(); }

  // Ends the capture and returns what was written.
  std::string Take() {
    Restore();
    std::string text;
    if (file_ == nullptr)
      return text;
    std::rewind(file_);
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;)
      text.append(chunk, n);
    std::fclose(file_);
    file_ = nullptr;
    return text;
  }

 private:
  void Flush() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stream_);
  }
  void Restore() {
    if (saved_ < 0)
      return;
    Flush();
    HVC_DUP2(saved_, HVC_FILENO(stream_));
    HVC_CLOSE(saved_);
    saved_ = -1;
  }

  FILE* stream_;
  FILE* file_;
  int saved_ = -1;
};

}  // namespace hvc::test
