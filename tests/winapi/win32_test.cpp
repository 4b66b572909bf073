// Win32 base services and wcstombs_s, pinned to Windows' documented results.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "wine.h"

namespace {

const std::string kUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e acute, euro sign, an emoji
const std::wstring kWide = L"a\u00E9\u20AC\U0001F600";              // one or two units per character
const wchar_t kLoneSurrogate = static_cast<wchar_t>(0xD800);

std::wstring Z(std::wstring s) {
  return s.push_back(L'\0'), s;
}
std::string Z(std::string s) {
  return s.push_back('\0'), s;
}

// Clears the last error, runs the call, expects it to fail and returns the error it reported.
template <typename Call>
DWORD FailureOf(Call call) {
  SetLastError(0);
  EXPECT_EQ(call(), 0);
  return GetLastError();
}

constexpr const char* kWineUtf8Flags =
    "Wine's UTF-8 conversions accept flags and default characters that UTF-8 refuses";
constexpr const char* kWineMessages = "Wine's system message texts have their own wording, and some are missing";

template <typename In, typename Out>
struct Case {
  const char* name;
  UINT codePage;
  DWORD flags;
  In in;
  int length;    // source length passed, -1 for zero-terminated
  int capacity;  // destination size passed for a failing call (0: a size query)
  Out out;
  DWORD error = 0;
  const char* wineDiffers = nullptr;  // why Wine's result differs, where it does
};

// Queries the size, then converts into a buffer of exactly that size, as callers do.
template <typename In, typename Out, typename Convert>
void Check(const Case<In, Out>& c, Convert convert) {
  SCOPED_TRACE(c.name);
  typename Out::value_type buffer[32];
  if (c.wineDiffers != nullptr) {
    HVC_EXPECT_UNLESS_WINE(
        (SetLastError(0), convert(c, c.capacity ? buffer : nullptr, c.capacity) == 0 && GetLastError() == c.error),
        c.wineDiffers);
    return;
  }
  if (c.error != 0) {
    EXPECT_EQ(FailureOf([&] { return convert(c, c.capacity ? buffer : nullptr, c.capacity); }), c.error);
    return;
  }
  const int needed = convert(c, nullptr, 0);
  ASSERT_EQ(needed, static_cast<int>(c.out.size()));
  ASSERT_EQ(convert(c, buffer, needed), needed);
  EXPECT_EQ(Out(buffer, needed), c.out);
}

TEST(CodePages, MultiByteToWideChar) {
  const Case<std::string, std::wstring> cases[] = {
      {"terminator counted", CP_UTF8, 0, "abc", -1, 0, Z(L"abc")},
      {"explicit length, none added", CP_UTF8, 0, "abc", 3, 0, L"abc"},
      {"multi-byte characters", CP_UTF8, 0, kUtf8, -1, 0, Z(kWide)},
      {"ANSI is UTF-8 for ASCII", CP_ACP, 0, "hi", 2, 0, L"hi"},
      {"invalid byte replaced", CP_UTF8, 0,
       "a\xFF"
       "b",
       3, 0,
       L"a\uFFFD"
       "b"},
      {"overlong form replaced byte by byte", CP_UTF8, 0, "\xC0\xAF", 2, 0, L"\uFFFD\uFFFD"},
      {"too small", CP_UTF8, 0, "abc", -1, 3, L"", ERROR_INSUFFICIENT_BUFFER},
      {"zero length", CP_UTF8, 0, "abc", 0, 0, L"", ERROR_INVALID_PARAMETER},
      {"flags UTF-8 refuses", CP_UTF8, MB_PRECOMPOSED, "abc", -1, 0, L"", ERROR_INVALID_FLAGS, kWineUtf8Flags},
  };
  for (const auto& c : cases)
    Check(c, [](const auto& k, wchar_t* out, int size) {
      return MultiByteToWideChar(k.codePage, k.flags, k.in.data(), k.length, out, size);
    });
  EXPECT_EQ(FailureOf([] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, nullptr, 0); }),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePages, WideCharToMultiByte) {
  const std::wstring lone = {L'a', kLoneSurrogate, L'b'};
  const Case<std::wstring, std::string> cases[] = {
      {"terminator counted", CP_UTF8, 0, L"abc", -1, 0, Z(std::string("abc"))},
      {"explicit length, none added", CP_UTF8, 0, L"abc", 3, 0, "abc"},
      {"multi-byte characters", CP_UTF8, 0, kWide, -1, 0, Z(kUtf8)},
      {"lone surrogate replaced", CP_UTF8, 0, lone, 3, 0,
       "a\xEF\xBF\xBD"
       "b"},
      {"too small", CP_UTF8, 0, L"abc", -1, 3, "", ERROR_INSUFFICIENT_BUFFER},
      {"zero length", CP_UTF8, 0, L"abc", 0, 0, "", ERROR_INVALID_PARAMETER},
      {"flags UTF-8 refuses", CP_UTF8, WC_NO_BEST_FIT_CHARS, L"abc", -1, 0, "", ERROR_INVALID_FLAGS, kWineUtf8Flags},
  };
  for (const auto& c : cases)
    Check(c, [](const auto& k, char* out, int size) {
      return WideCharToMultiByte(k.codePage, k.flags, k.in.data(), k.length, out, size, nullptr, nullptr);
    });
}

TEST(CodePages, DefaultCharacterRules) {
  char buffer[16];
  BOOL used = TRUE;
  // UTF-8 takes neither a default character nor the flag that reports its use.
  HVC_EXPECT_UNLESS_WINE(FailureOf([&] {
                           return WideCharToMultiByte(CP_UTF8, 0, L"a", -1, buffer, 16, " ", nullptr);
                         }) == static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                         kWineUtf8Flags);
  HVC_EXPECT_UNLESS_WINE(FailureOf([&] {
                           return WideCharToMultiByte(CP_UTF8, 0, L"a", -1, buffer, 16, nullptr, &used);
                         }) == static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                         kWineUtf8Flags);
  // The ANSI code page does, and substitutes it for what it cannot encode.
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"ab", -1, buffer, 16, " ", &used), 3);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_FALSE(used);
  const wchar_t unencodable[] = {L'a', kLoneSurrogate, L'b', 0};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, unencodable, -1, buffer, 16, " ", &used), 4);
  EXPECT_STREQ(buffer, "a b");
  EXPECT_TRUE(used);
}

TEST(LastError, IsPerThread) {
  // Read back before the join: a thread library's own calls may change this thread's last error.
  std::atomic<int> step{0};
  std::thread other([&] {
    while (step.load() != 1)
      std::this_thread::yield();
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
    step = 2;
  });
  SetLastError(1234);
  step = 1;
  while (step.load() != 2)
    std::this_thread::yield();
  EXPECT_EQ(GetLastError(), 1234u);
  other.join();
}

TEST(FormatMessage, SystemTextsInAllocatedBuffers) {
  const struct {
    DWORD id;
    const char* text;
  } cases[] = {
      {0, "The operation completed successfully.\r\n"},
      {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
      {static_cast<DWORD>(E_INVALIDARG), "The parameter is incorrect.\r\n"},  // a wrapped Win32 error
      {static_cast<DWORD>(E_FAIL), "Unspecified error\r\n"},
      {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "Class not registered\r\n"},
  };
  for (const auto& c : cases) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, c.id,
                                        0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    SCOPED_TRACE(c.text);
    HVC_EXPECT_UNLESS_WINE(text != nullptr && std::strcmp(text, c.text) == 0 && length == std::strlen(c.text),
                           kWineMessages);
    if (text != nullptr) {
      EXPECT_EQ(LocalFree(text), nullptr);
    }
  }
  char* text = nullptr;
  EXPECT_EQ(FailureOf([&] { return FormatMessageA(0x1100, nullptr, 0x20001234, 0x400, (char*)&text, 0, nullptr); }),
            static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

class WcstombsS : public testing::Test {
#ifdef _WIN32
  // The CRT reports bad arguments to this handler before returning the error code.
  static void Ignore(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
  _invalid_parameter_handler previous_ = _set_invalid_parameter_handler(Ignore);

 protected:
  ~WcstombsS() override {
    _set_invalid_parameter_handler(previous_);
  }
#endif
};

TEST_F(WcstombsS, ConvertsTruncatesAndRejects) {
  constexpr size_t kUnspecified = 12345;
  const std::wstring longText(100, L'x');
  const struct {
    const wchar_t* in;
    size_t size, count;
    errno_t result;
    size_t written;  // bytes including the terminator; kUnspecified where Windows does not say
    std::string out;
  } cases[] = {
      {L"hello", 64, _TRUNCATE, 0, 6, "hello"},
      {longText.c_str(), 64, _TRUNCATE, STRUNCATE, 64, std::string(63, 'x')},
      {nullptr, 64, _TRUNCATE, EINVAL, kUnspecified, ""},
      {L"ok \x4E2D", 64, _TRUNCATE, EILSEQ, 0, ""},  // the "C" locale stops at U+00FF
  };
  for (const auto& c : cases) {
    char buffer[64] = "old";
    size_t written = 99;
    EXPECT_EQ(wcstombs_s(&written, buffer, c.size, c.in, c.count), c.result) << c.out;
    if (c.written != kUnspecified) {
      EXPECT_EQ(written, c.written) << c.out;
    }
    EXPECT_EQ(buffer, c.out);
  }
}

TEST_F(WcstombsS, TruncationNeverSplitsACharacter) {
  char buffer[64];
  size_t written = 0;
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr && std::setlocale(LC_CTYPE, ".UTF8") == nullptr)
    GTEST_SKIP() << "no UTF-8 locale";
  const std::wstring accented(40, L'\u00E9');
  const errno_t result = wcstombs_s(&written, buffer, sizeof buffer, accented.c_str(), _TRUNCATE);
  std::setlocale(LC_CTYPE, saved.c_str());
  EXPECT_EQ(result, STRUNCATE);
  EXPECT_EQ(written, 63u);
  EXPECT_EQ(std::strlen(buffer), 62u);
}

}  // namespace
