// The host application's logger: one formatted line per call, handed to a sink.
#pragma once

#if defined(_WIN32)
#if defined(WINTVLOGGER_BUILD)
#define WINTVLOGGER_API __declspec(dllexport)
#else
#define WINTVLOGGER_API __declspec(dllimport)
#endif
#else
#define WINTVLOGGER_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#define WINTVLOGGER_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define WINTVLOGGER_PRINTF(f, a)
#endif

class WINTVLOGGER_API TvLogger {
 public:
  // Formats like printf and hands the text, with the caller's own line ends if any, to the sink.
  // Returns the length of the formatted text, or -1 when there is no format or it cannot be
  // formatted. Never throws: a sink that fails is ignored.
  static int TorvaneLogMsg(int ModName, int LogType, const char* format, ...) WINTVLOGGER_PRINTF(3, 4);
};

extern "C" {
// Receives every logged text. `context` is the pointer given to TvLoggerSetSink.
typedef void (*TvLogSink)(int modName, int logType, const char* text, void* context);

// Replaces the sink; null restores the default one, which writes each text to standard error
// behind a short stamp ("hh:mm:ss.mmm [module/type] ") and ends it with a line end if it has none.
WINTVLOGGER_API void TvLoggerSetSink(TvLogSink sink, void* context);

// Receives the format of every call as the caller passed it, before formatting, so that tests can
// tell the texts that callers pass as formats from those they pass as arguments. Null: none.
WINTVLOGGER_API void TvLoggerSetFormatSink(TvLogSink sink, void* context);
}
