// Narrow text <-> BSTR conversions, the shared string holder, and copying WMI text into fixed
// fields. A failed allocation or conversion raises _com_error, which nothing in the library
// catches.
#pragma once

#include <windows.h>

#include <cstddef>

namespace hvc {

// Throws _com_error carrying `hr` and no error-information object.
[[noreturn]] void RaiseComError(HRESULT hr);

// A new BSTR (free with SysFreeString) from narrow text in the ANSI code page; null in, null out.
BSTR AnsiToBstr(const char* text);
// A new char array (free with delete[]) from wide text; null in, null out.
char* BstrToAnsi(const wchar_t* text);

// Copies wide text into a narrow buffer of `capacity` bytes in the current C locale, cut to
// capacity - 1 bytes and a zero. Text that cannot be converted, and no text at all, leave the
// empty string.
void CopyToNarrow(char* dest, std::size_t capacity, const wchar_t* text);
// The same for a VARIANT: a BSTR value is copied; any other type leaves the empty string.
void CopyToNarrow(char* dest, std::size_t capacity, const VARIANT& value);

template <std::size_t N>
void CopyToField(char (&field)[N], const VARIANT& value) {
  CopyToNarrow(field, N, value);
}

// A reference-counted BSTR with a narrow copy made on first request. Copies share the text.
class SharedBstr {
 public:
  SharedBstr() noexcept = default;
  explicit SharedBstr(const char* text);
  explicit SharedBstr(const wchar_t* text);
  SharedBstr(const SharedBstr& other) noexcept;
  SharedBstr& operator=(const SharedBstr& other) noexcept;
  SharedBstr& operator=(const char* text);
  ~SharedBstr();

  // The wide text, owned by the holder; null for a null holder.
  BSTR Bstr() const noexcept;
  // The narrow text, made on the first request and kept; null for a null holder.
  const char* Narrow() const;
  bool IsNull() const noexcept { return record_ == nullptr; }

 private:
  struct Record;
  void Release() noexcept;
  static Record* MakeRecord(BSTR wide);

  Record* record_ = nullptr;
};

}  // namespace hvc
