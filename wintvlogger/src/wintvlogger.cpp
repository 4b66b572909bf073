#include "wintvlogger.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

void DefaultSink(int modName, int logType, const char* text, void*) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &secs);
#else
  localtime_r(&secs, &local);
#endif
  const std::size_t len = std::strlen(text);
  const bool hasLineEnd = len > 0 && text[len - 1] == '\n';
  std::fprintf(stderr, "%02d:%02d:%02d.%03ld [%d/%d] %s%s", local.tm_hour, local.tm_min, local.tm_sec, millis, modName,
               logType, text, hasLineEnd ? "" : "\n");
  std::fflush(stderr);
}

std::mutex g_sinkMutex;
TvLogSink g_sink = DefaultSink;
void* g_sinkContext = nullptr;
TvLogSink g_formatSink = nullptr;
void* g_formatSinkContext = nullptr;

}  // namespace

int TvLogger::TorvaneLogMsg(int ModName, int LogType, const char* format, ...) {
  if (format == nullptr)
    return -1;
  try {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (needed < 0) {
      va_end(args);
      return -1;
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);

    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_formatSink != nullptr)
      g_formatSink(ModName, LogType, format, g_formatSinkContext);
    g_sink(ModName, LogType, text.c_str(), g_sinkContext);
    return needed;
  } catch (...) {
    // The caller's behaviour must not depend on the log.
    return -1;
  }
}

extern "C" void TvLoggerSetSink(TvLogSink sink, void* context) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  g_sink = sink != nullptr ? sink : DefaultSink;
  g_sinkContext = sink != nullptr ? context : nullptr;
}

extern "C" void TvLoggerSetFormatSink(TvLogSink sink, void* context) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  g_formatSink = sink;
  g_formatSinkContext = sink != nullptr ? context : nullptr;
}
