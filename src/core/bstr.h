// Narrow text <-> BSTR conversions and copying text into fixed fields. A failed allocation or
// conversion raises _com_error, which nothing in the library catches.
#pragma once

#include <windows.h>

#include <cstddef>

#include "core/com_ptr.h"

namespace hvc {

// Throws _com_error carrying `hr` and no error-information object.
[[noreturn]] void RaiseComError(HRESULT hr);

// A new BSTR (free with SysFreeString) from narrow text in the ANSI code page; null in, null out.
BSTR AnsiToBstr(const char* text);
// A new char array (free with delete[]) from wide text; null in, null out.
char* BstrToAnsi(const wchar_t* text);
// An owned copy of wide text; null in, null out.
BstrPtr WideBstr(const wchar_t* text);

// Copies text into a narrow buffer of `capacity` bytes, cut to capacity - 1 bytes and a zero.
// Wide text converts in the current C locale; text that cannot be converted, no text at all,
// and a VARIANT that holds no BSTR leave the empty string.
void CopyCut(char* dest, std::size_t capacity, const char* text);
void CopyCut(char* dest, std::size_t capacity, const wchar_t* text);
void CopyCut(char* dest, std::size_t capacity, const VARIANT& value);
template <std::size_t N, class Text>
void CopyCut(char (&field)[N], const Text& text) {
  CopyCut(field, N, text);
}

}  // namespace hvc
