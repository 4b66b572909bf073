#include "core/bstr.h"

#include <comdef.h>

#include <cstring>
#include <new>

namespace hvc {

void RaiseComError(HRESULT hr) {
  throw _com_error(hr, nullptr);
}

namespace {
[[noreturn]] void RaiseLastError() {
  RaiseComError(HRESULT_FROM_WIN32(GetLastError()));
}
}  // namespace

BSTR AnsiToBstr(const char* text) {
  if (text == nullptr)
    return nullptr;
  const int sourceLength = lstrlenA(text);
  // No character takes less than a byte, so the byte count is room enough: the text is converted
  // once, straight into the BSTR, which is cut to size only when some characters took more.
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(sourceLength));
  if (result == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  if (sourceLength == 0)
    return result;
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, sourceLength, result, sourceLength);
  if (wideLength == 0) {
    const DWORD error = GetLastError();
    SysFreeString(result);
    RaiseComError(HRESULT_FROM_WIN32(error));
  }
  if (wideLength < sourceLength) {
    const BSTR exact = SysAllocStringLen(result, static_cast<UINT>(wideLength));
    SysFreeString(result);
    if (exact == nullptr)
      RaiseComError(E_OUTOFMEMORY);
    result = exact;
  }
  return result;
}

char* BstrToAnsi(const wchar_t* text) {
  if (text == nullptr)
    return nullptr;
  const int sourceLength = lstrlenW(text) + 1;
  const int narrowLength = WideCharToMultiByte(CP_ACP, 0, text, sourceLength, nullptr, 0, nullptr, nullptr);
  if (narrowLength == 0)
    RaiseLastError();
  char* buffer = new (std::nothrow) char[static_cast<std::size_t>(narrowLength)];
  if (buffer == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  if (WideCharToMultiByte(CP_ACP, 0, text, sourceLength, buffer, narrowLength, nullptr, nullptr) == 0) {
    const DWORD error = GetLastError();
    delete[] buffer;
    RaiseComError(HRESULT_FROM_WIN32(error));
  }
  return buffer;
}

BstrPtr WideBstr(const wchar_t* text) {
  BstrPtr copy(SysAllocString(text));
  if (text != nullptr && copy.Get() == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  return copy;
}

void CopyCut(char* dest, std::size_t capacity, const char* text) {
  if (dest == nullptr || capacity == 0)
    return;
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length > capacity - 1)
    length = capacity - 1;
  if (length > 0)
    std::memcpy(dest, text, length);
  dest[length] = '\0';
}

void CopyCut(char* dest, std::size_t capacity, const wchar_t* text) {
  if (dest == nullptr || capacity == 0)
    return;
  dest[0] = '\0';
  // The CRT would treat null text as an invalid parameter and end the process.
  if (text == nullptr)
    return;
  std::size_t written = 0;
  wcstombs_s(&written, dest, capacity, text, _TRUNCATE);
}

void CopyCut(char* dest, std::size_t capacity, const VARIANT& value) {
  CopyCut(dest, capacity, value.vt == VT_BSTR ? value.bstrVal : nullptr);
}

}  // namespace hvc
