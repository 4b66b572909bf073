// Win32 base services and wcstombs_s, pinned to Windows' documented results.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

const std::string kUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e acute, euro sign, an emoji
const std::wstring kWide = L"a\u00E9\u20AC\U0001F600";                // one or two units per character
const wchar_t kLoneSurrogate = static_cast<wchar_t>(0xD800);

std::wstring Z(std::wstring s) { return s.push_back(L'\0'), s; }
std::string Z(std::string s) { return s.push_back('\0'), s; }

struct Case {
  const char* name;
  UINT codePage;
  DWORD flags;
  int length;        // source length passed, -1 for zero-terminated
  int capacity;      // destination size passed; the expected size when the call should succeed
  DWORD error;       // 0 if the call should succeed
};

TEST(CodePages, MultiByteToWideChar) {
  const struct : Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {{"terminator counted", CP_UTF8, 0, -1, 0, 0}, "abc", Z(L"abc")},
      {{"explicit length, none added", CP_UTF8, 0, 3, 0, 0}, "abc", L"abc"},
      {{"multi-byte characters", CP_UTF8, 0, -1, 0, 0}, kUtf8, Z(kWide)},
      {{"ANSI is UTF-8 for ASCII", CP_ACP, MB_PRECOMPOSED, 2, 0, 0}, "hi", L"hi"},
      {{"invalid byte replaced", CP_UTF8, 0, 3, 0, 0}, "a\xFF" "b", L"a\uFFFD" "b"},
      {{"invalid byte refused", CP_UTF8, MB_ERR_INVALID_CHARS, 3, 0, ERROR_NO_UNICODE_TRANSLATION}, "a\xFF" "b", L""},
      {{"overlong form refused", CP_UTF8, MB_ERR_INVALID_CHARS, 2, 0, ERROR_NO_UNICODE_TRANSLATION}, "\xC0\xAF", L""},
      {{"too small", CP_UTF8, 0, -1, 3, ERROR_INSUFFICIENT_BUFFER}, "abc", L""},
      {{"zero length", CP_UTF8, 0, 0, 0, ERROR_INVALID_PARAMETER}, "abc", L""},
      {{"flags UTF-8 refuses", CP_UTF8, MB_PRECOMPOSED, -1, 0, ERROR_INVALID_FLAGS}, "abc", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    wchar_t buffer[32];
    const int needed = MultiByteToWideChar(c.codePage, c.flags, c.in.data(), c.length, c.capacity ? buffer : nullptr,
                                           c.capacity);
    if (c.error != 0) {
      EXPECT_EQ(needed, 0);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_EQ(needed, static_cast<int>(c.out.size()));
    ASSERT_EQ(MultiByteToWideChar(c.codePage, c.flags, c.in.data(), c.length, buffer, needed), needed);
    EXPECT_EQ(std::wstring(buffer, needed), c.out);
  }
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePages, WideCharToMultiByte) {
  const struct : Case {
    std::wstring in;
    std::string out;
  } cases[] = {
      {{"terminator counted", CP_UTF8, 0, -1, 0, 0}, L"abc", Z(std::string("abc"))},
      {{"explicit length, none added", CP_UTF8, 0, 3, 0, 0}, L"abc", "abc"},
      {{"multi-byte characters", CP_UTF8, 0, -1, 0, 0}, kWide, Z(kUtf8)},
      {{"lone surrogate replaced", CP_UTF8, 0, 3, 0, 0}, {L'a', kLoneSurrogate, L'b'}, "a\xEF\xBF\xBD" "b"},
      {{"lone surrogate refused", CP_UTF8, WC_ERR_INVALID_CHARS, 3, 0, ERROR_NO_UNICODE_TRANSLATION},
       {L'a', kLoneSurrogate, L'b'}, ""},
      {{"too small", CP_UTF8, 0, -1, 3, ERROR_INSUFFICIENT_BUFFER}, L"abc", ""},
      {{"zero length", CP_UTF8, 0, 0, 0, ERROR_INVALID_PARAMETER}, L"abc", ""},
      {{"flags UTF-8 refuses", CP_UTF8, WC_NO_BEST_FIT_CHARS, -1, 0, ERROR_INVALID_FLAGS}, L"abc", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    char buffer[32];
    const int needed = WideCharToMultiByte(c.codePage, c.flags, c.in.data(), c.length, c.capacity ? buffer : nullptr,
                                           c.capacity, nullptr, nullptr);
    if (c.error != 0) {
      EXPECT_EQ(needed, 0);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_EQ(needed, static_cast<int>(c.out.size()));
    ASSERT_EQ(WideCharToMultiByte(c.codePage, c.flags, c.in.data(), c.length, buffer, needed, nullptr, nullptr), needed);
    EXPECT_EQ(std::string(buffer, needed), c.out);
  }
}

TEST(CodePages, DefaultCharacterRules) {
  char buffer[16];
  BOOL used = TRUE;
  // UTF-8 takes neither a default character nor the flag that reports its use.
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", -1, buffer, 16, " ", nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", -1, buffer, 16, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
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
  SetLastError(1234);
  std::thread([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
  }).join();
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_EQ(lstrlenA(nullptr) + lstrlenW(nullptr), 0);
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
    ASSERT_NE(text, nullptr) << c.id;
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(length, std::strlen(c.text));
    EXPECT_EQ(LocalFree(text), nullptr);
  }
  char* text = nullptr;
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(0x1100, nullptr, 0x20001234, 0x400, reinterpret_cast<char*>(&text), 0, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(FormatMessage, CallerBufferSize) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const std::string expected = "Access is denied.\r\n";
  char buffer[64];
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 5, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, buffer, static_cast<DWORD>(expected.size() + 1),
                           nullptr),
            expected.size());
  EXPECT_EQ(buffer, expected);
}

std::string FromString(DWORD flags, const char* definition, va_list* args) {
  char buffer[128] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | flags, definition, 0, 0, buffer, sizeof buffer, args);
  return n == 0 ? "<failed>" : std::string(buffer, n);
}

std::string FromStringVa(const char* definition, ...) {
  va_list args;
  va_start(args, definition);
  std::string text = FromString(0, definition, &args);
  va_end(args);
  return text;
}

TEST(FormatMessage, InsertsAndEscapes) {
  DWORD_PTR array[] = {reinterpret_cast<DWORD_PTR>("one"), 42, reinterpret_cast<DWORD_PTR>("three")};
  auto* args = reinterpret_cast<va_list*>(array);
  EXPECT_EQ(FromString(FORMAT_MESSAGE_ARGUMENT_ARRAY, "%3, %1 and %2!d!%% done%n", args), "three, one and 42% done\r\n");
  EXPECT_EQ(FromString(FORMAT_MESSAGE_ARGUMENT_ARRAY, "[%1!5s!|%2!-4x!]", args), "[  one|2a  ]");
  EXPECT_EQ(FromString(FORMAT_MESSAGE_IGNORE_INSERTS, "%1 stays%0 cut", nullptr), "%1 stays");
  EXPECT_EQ(FromStringVa("%2-%1", "x", "y"), "y-x");
  SetLastError(0);
  EXPECT_EQ(FromString(0, "needs %1", nullptr), "<failed>");  // an insert without arguments
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

class WcstombsS : public testing::Test {
#ifdef _WIN32
  // The CRT reports bad arguments to this handler before returning the error code.
  static void Ignore(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
  _invalid_parameter_handler previous_ = _set_invalid_parameter_handler(Ignore);

 protected:
  ~WcstombsS() override { _set_invalid_parameter_handler(previous_); }
#endif
};

TEST_F(WcstombsS, ConvertsMeasuresAndRejects) {
  char buffer[64];
  size_t written = 99;
  EXPECT_EQ(wcstombs_s(&written, buffer, sizeof buffer, L"hello", _TRUNCATE), 0);
  EXPECT_EQ(written, 6u);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(wcstombs_s(&written, nullptr, 0, L"hello", 0), 0);  // a size query
  EXPECT_EQ(written, 6u);
  EXPECT_EQ(wcstombs_s(&written, buffer, sizeof buffer, L"hello", 3), 0);  // at most count bytes
  EXPECT_STREQ(buffer, "hel");

  std::strcpy(buffer, "old");
  EXPECT_EQ(wcstombs_s(&written, buffer, 4, L"hello", 10), ERANGE);
  EXPECT_EQ(buffer[0], '\0');
  std::strcpy(buffer, "old");
  EXPECT_EQ(wcstombs_s(&written, buffer, sizeof buffer, nullptr, 10), EINVAL);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(wcstombs_s(&written, nullptr, 8, L"hello", 10), EINVAL);
  // The "C" locale has no encoding for characters beyond U+00FF.
  std::strcpy(buffer, "old");
  EXPECT_EQ(wcstombs_s(&written, buffer, sizeof buffer, L"ok \x4E2D", _TRUNCATE), EILSEQ);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(written, 0u);
}

TEST_F(WcstombsS, TruncatesAtTheBufferEnd) {
  const std::wstring longText(100, L'x');
  char buffer[64];
  size_t written = 0;
  EXPECT_EQ(wcstombs_s(&written, buffer, sizeof buffer, longText.c_str(), _TRUNCATE), STRUNCATE);
  EXPECT_EQ(written, 64u);
  EXPECT_EQ(std::strlen(buffer), 63u);
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
