// Win32 base services: code-page conversion, last error, system messages, LocalFree, Sleep,
// and the C runtime's wcstombs_s.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "textlanes/lanes.h"
#include "winapi/base.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

constexpr DWORD kErrorResourceLangNotFound = 1815;
constexpr char32_t kReplacement = 0xFFFD;

int Fail(DWORD error) {
  t_lastError = error;
  return 0;
}

// ---- Unicode -------------------------------------------------------------------------------------

bool IsScalar(char32_t c) {
  return c < 0x110000 && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one UTF-8 sequence at s[i] (i < n) and advances i. An ill-formed sequence yields
// nothing and consumes its maximal well-formed prefix (at least one byte), so each one becomes
// exactly one replacement character.
bool DecodeUtf8(const unsigned char* s, size_t n, size_t& i, char32_t& out) {
  const unsigned char b = s[i];
  if (b < 0x80) {
    out = b;
    ++i;
    return true;
  }
  int trail;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the first trail byte
  if (b >= 0xC2 && b <= 0xDF)
    trail = 1;
  else if (b == 0xE0)
    trail = 2, lo = 0xA0;
  else if (b == 0xED)
    trail = 2, hi = 0x9F;  // no encoded surrogates
  else if (b >= 0xE1 && b <= 0xEF)
    trail = 2;
  else if (b == 0xF0)
    trail = 3, lo = 0x90;
  else if (b == 0xF4)
    trail = 3, hi = 0x8F;  // nothing above U+10FFFF
  else if (b >= 0xF1 && b <= 0xF3)
    trail = 3;
  else {
    ++i;
    return false;
  }
  char32_t c = b & (0x3F >> trail);
  for (int k = 1; k <= trail; ++k) {
    if (i + k >= n || s[i + k] < lo || s[i + k] > hi) {
      i += k;
      return false;
    }
    c = c << 6 | (s[i + k] & 0x3F);
    lo = 0x80, hi = 0xBF;
  }
  i += trail + 1;
  out = c;
  return true;
}

int EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// wchar_t is UTF-32 where it is four bytes wide and UTF-16 where it is two.
int EncodeWide(char32_t c, wchar_t* out) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out[0] = static_cast<wchar_t>(0xD800 | c >> 10);
      out[1] = static_cast<wchar_t>(0xDC00 | (c & 0x3FF));
      return 2;
    }
  }
  out[0] = static_cast<wchar_t>(c);
  return 1;
}

// Decodes one character at s[i] (i < n) and advances i; false for an unpaired surrogate or a value
// outside Unicode.
bool DecodeWide(const wchar_t* s, size_t n, size_t& i, char32_t& out) {
  if constexpr (sizeof(wchar_t) == 2) {
    const char32_t first = static_cast<char16_t>(s[i++]);
    if (first >= 0xD800 && first <= 0xDBFF && i < n) {
      const char32_t second = static_cast<char16_t>(s[i]);
      if (second >= 0xDC00 && second <= 0xDFFF) {
        ++i;
        out = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
        return true;
      }
    }
    out = first;
  } else {
    out = static_cast<char32_t>(s[i++]);
  }
  return IsScalar(out);
}

enum class Page { Invalid, Ansi, Utf8 };

// The ANSI, OEM and thread code pages are all UTF-8 on this system.
Page Classify(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
      return Page::Ansi;
    case CP_UTF8:
      return Page::Utf8;
    default:
      return Page::Invalid;
  }
}

// Collects converted units, counting them all but storing only while they fit.
template <typename Unit>
struct Sink {
  Unit* buffer;
  size_t capacity;  // 0: measure only
  size_t count = 0;
  bool overflow = false;
  void Put(const Unit* units, int n) {
    if (capacity != 0) {
      if (count + n > capacity) {
        overflow = true;
      } else {
        for (int k = 0; k < n; ++k)
          buffer[count + k] = units[k];
      }
    }
    count += n;
  }
};

// ---- System messages -----------------------------------------------------------------------------

struct Message {
  DWORD id;
  const char* text;
};

// Win32 error codes; HRESULTs of FACILITY_WIN32 share these texts.
constexpr Message kWin32Messages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {50, "The request is not supported.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {259, "No more data is available.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1168, "Element not found.\r\n"},
    {1223, "The operation was canceled by the user.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
};

// COM and Automation HRESULTs of the system message table. WMI's own codes are not in it: their
// texts belong to WMI's modules, as on Windows.
constexpr Message kHresultMessages[] = {
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x80010106, "Cannot change thread mode after it is set.\r\n"},
    {0x80010119,
     "Security must be initialized before any interfaces are marshalled or unmarshalled. It cannot be changed once "
     "initialized.\r\n"},
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x80028CA0, "Type mismatch.\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F0, "CoInitialize has not been called.\r\n"},
    {0x800401F1, "CoInitialize has already been called.\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
    {0x800401FB, "Object is not registered\r\n"},
};

const char* FindSystemMessage(DWORD id) {
  if ((id & 0xFFFF0000) == 0x80070000)
    id &= 0xFFFF;  // a Win32 error wrapped in an HRESULT
  if (id <= 0xFFFF) {
    for (const Message& m : kWin32Messages)
      if (m.id == id)
        return m.text;
    return nullptr;
  }
  for (const Message& m : kHresultMessages)
    if (m.id == id)
      return m.text;
  return nullptr;
}

// The table is US English; neutral requests fall back to it, other languages have no text.
bool HaveLanguage(DWORD lang) {
  const DWORD primary = lang & 0x3FF, sub = lang >> 10;
  if (primary == LANG_NEUTRAL)
    return true;
  return primary == LANG_ENGLISH && (sub == SUBLANG_NEUTRAL || sub == SUBLANG_ENGLISH_US);
}

// Expands the escapes of a system message definition. Inserts (%1 to %99) need arguments, which
// the system texts used here never take: one fails with ERROR_INVALID_PARAMETER.
bool Expand(std::string_view text, std::string& out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i == text.size())
      break;
    const char e = text[i];
    if (e == '0')
      return true;  // the message ends here, without a line break
    if (e >= '1' && e <= '9') {
      t_lastError = ERROR_INVALID_PARAMETER;
      return false;
    }
    switch (e) {
      case 'n':
        out += "\r\n";
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      default:
        out += e;
        break;  // %%, "% ", %., %! and any other character stand for themselves
    }
  }
  return true;
}

// ---- C runtime -----------------------------------------------------------------------------------

bool PlainCLocale() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// Converts one wide character in the current locale; the byte count, or -1 if it has no encoding.
int WideToLocale(wchar_t c, bool plainC, std::mbstate_t& state, char* out) {
  if (plainC) {
    // Microsoft's "C" locale passes the Latin-1 range through byte for byte.
    if (static_cast<std::make_unsigned_t<wchar_t>>(c) > 0xFF)
      return -1;
    out[0] = static_cast<char>(c);
    return 1;
  }
  const size_t n = std::wcrtomb(out, c, &state);
  return n == static_cast<size_t>(-1) ? -1 : static_cast<int>(n);
}

}  // namespace

extern "C" {

DWORD GetLastError(void) {
  return t_lastError;
}
void SetLastError(DWORD dwErrCode) {
  t_lastError = dwErrCode;
}

int lstrlenA(LPCSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}
int lstrlenW(LPCWSTR lpString) {
  return lpString == nullptr ? 0 : static_cast<int>(std::wcslen(lpString));
}

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0)
    std::this_thread::yield();  // gives up the rest of the time slice only
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

// No caller passes flags, so none is taken: ill-formed sequences always become U+FFFD.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr) ||
      static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))
    return Fail(ERROR_INVALID_PARAMETER);
  const Page page = Classify(CodePage);
  if (page == Page::Invalid)
    return Fail(ERROR_INVALID_PARAMETER);
  if (dwFlags != 0)
    return Fail(ERROR_INVALID_FLAGS);

  const auto* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  const size_t n = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  // Text that is all ASCII, most of what callers convert, reads the same in both pages: widen it
  // in one pass without decoding.
  const bool fits = n <= static_cast<size_t>(cchWideChar);
  if (n <= INT_MAX &&
      (fits ? textlanes::WidenAscii(lpMultiByteStr, n, lpWideCharStr) : textlanes::IsAscii(lpMultiByteStr, n))) {
    if (cchWideChar == 0)
      return static_cast<int>(n);
    return fits ? static_cast<int>(n) : Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  Sink<wchar_t> sink{lpWideCharStr, static_cast<size_t>(cchWideChar)};
  for (size_t i = 0; i < n;) {
    char32_t c;
    if (!DecodeUtf8(s, n, i, c))
      c = kReplacement;
    wchar_t units[2];
    sink.Put(units, EncodeWide(c, units));
  }
  if (sink.overflow)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (sink.count > INT_MAX)
    return Fail(ERROR_INVALID_PARAMETER);
  return static_cast<int>(sink.count);
}

// No caller passes flags, so none is taken. The ANSI code pages take a default character, a single
// byte that replaces what cannot be encoded (unpaired surrogates); without one, and always in
// CP_UTF8, which takes none, U+FFFD is used.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
      static_cast<const void*>(lpWideCharStr) == static_cast<const void*>(lpMultiByteStr))
    return Fail(ERROR_INVALID_PARAMETER);
  const Page page = Classify(CodePage);
  if (page == Page::Invalid)
    return Fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))
    return Fail(ERROR_INVALID_PARAMETER);
  if (dwFlags != 0)
    return Fail(ERROR_INVALID_FLAGS);

  const size_t n = cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  Sink<char> sink{lpMultiByteStr, static_cast<size_t>(cbMultiByte)};
  bool usedDefault = false;
  for (size_t i = 0; i < n;) {
    char32_t c;
    char bytes[4];
    if (!DecodeWide(lpWideCharStr, n, i, c)) {
      if (page == Page::Ansi)
        usedDefault = true;
      if (lpDefaultChar != nullptr) {
        sink.Put(lpDefaultChar, 1);
        continue;
      }
      c = kReplacement;
    }
    sink.Put(bytes, EncodeUtf8(c, bytes));
  }
  if (sink.overflow)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (sink.count > INT_MAX)
    return Fail(ERROR_INVALID_PARAMETER);
  if (lpUsedDefaultChar != nullptr)
    *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  return static_cast<int>(sink.count);
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

// The system's own texts, in an allocated buffer: the one mode the library uses. Callers'
// buffers, message definitions from strings or modules, and argument lists are refused.
DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                     va_list*) {
  if (lpBuffer == nullptr || dwFlags != (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM))
    return Fail(ERROR_INVALID_PARAMETER);
  *reinterpret_cast<char**>(lpBuffer) = nullptr;
  if (!HaveLanguage(dwLanguageId))
    return Fail(kErrorResourceLangNotFound);
  const char* definition = FindSystemMessage(dwMessageId);
  if (definition == nullptr)
    return Fail(ERROR_MR_MID_NOT_FOUND);

  std::string text;
  if (!Expand(definition, text))
    return 0;
  // Only fixed memory exists here: the handle LocalFree takes is the address.
  const size_t needed = text.size() + 1;
  auto* out = static_cast<char*>(std::malloc(needed > nSize ? needed : nSize));
  if (out == nullptr)
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  *reinterpret_cast<char**>(lpBuffer) = out;
  std::memcpy(out, text.c_str(), needed);
  return static_cast<DWORD>(text.size());
}

// The one mode the library uses: the caller's buffer, cut with _TRUNCATE. Size queries and
// explicit counts are refused.
errno_t wcstombs_s(size_t* pReturnValue, char* mbstr, size_t sizeInBytes, const wchar_t* wcstr, size_t count) {
  if (pReturnValue != nullptr)
    *pReturnValue = 0;
  auto fail = [&](errno_t code) {
    if (mbstr != nullptr && sizeInBytes > 0)
      mbstr[0] = '\0';
    errno = code;
    return code;
  };
  if (mbstr == nullptr || sizeInBytes == 0 || wcstr == nullptr || count != _TRUNCATE)
    return fail(EINVAL);

  const size_t length = std::wcslen(wcstr);
  const size_t limit = sizeInBytes - 1;  // bytes that may be stored before the terminating zero
  size_t used = std::min(length, limit);
  bool cut = used < length;
  // All-ASCII text, most of what callers convert, is one byte a character in every locale.
  if (!textlanes::NarrowAscii(wcstr, used, mbstr) || !textlanes::IsAscii(wcstr + used, length - used)) {
    const bool plainC = PlainCLocale();
    std::mbstate_t state{};
    used = 0;
    cut = false;
    for (const wchar_t* p = wcstr; *p != L'\0'; ++p) {
      char bytes[MB_LEN_MAX];
      const int n = WideToLocale(*p, plainC, state, bytes);
      if (n < 0)
        return fail(EILSEQ);
      if (used + n > limit) {  // never split a character
        cut = true;
        break;
      }
      std::memcpy(mbstr + used, bytes, n);
      used += n;
    }
  }
  mbstr[used] = '\0';
  if (pReturnValue != nullptr)
    *pReturnValue = used + 1;
  return cut ? STRUNCATE : 0;
}

}  // extern "C"
