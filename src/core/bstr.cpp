#include "core/bstr.h"

#include <comdef.h>

#include <atomic>
#include <cstdlib>
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
  const int sourceLength = lstrlenA(text) + 1;  // with the terminating zero
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, sourceLength, nullptr, 0);
  if (wideLength == 0)
    RaiseLastError();
  wchar_t* buffer = new (std::nothrow) wchar_t[static_cast<std::size_t>(wideLength)];
  if (buffer == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  if (MultiByteToWideChar(CP_ACP, 0, text, sourceLength, buffer, wideLength) == 0) {
    const DWORD error = GetLastError();
    delete[] buffer;
    RaiseComError(HRESULT_FROM_WIN32(error));
  }
  BSTR result = SysAllocString(buffer);
  delete[] buffer;
  if (result == nullptr)
    RaiseComError(E_OUTOFMEMORY);
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

void CopyToNarrow(char* dest, std::size_t capacity, const wchar_t* text) {
  if (dest == nullptr || capacity == 0)
    return;
  dest[0] = '\0';
  // The CRT would treat null text as an invalid parameter and end the process.
  if (text == nullptr)
    return;
  std::size_t written = 0;
  wcstombs_s(&written, dest, capacity, text, _TRUNCATE);
}

void CopyToNarrow(char* dest, std::size_t capacity, const VARIANT& value) {
  CopyToNarrow(dest, capacity, value.vt == VT_BSTR ? value.bstrVal : nullptr);
}

struct SharedBstr::Record {
  BSTR wide;
  char* narrow;
  std::atomic<std::uint32_t> refs;
};

SharedBstr::Record* SharedBstr::MakeRecord(BSTR wide) {
  Record* record = new (std::nothrow) Record{wide, nullptr, {1}};
  if (record == nullptr) {
    SysFreeString(wide);
    RaiseComError(E_OUTOFMEMORY);
  }
  return record;
}

SharedBstr::SharedBstr(const char* text) {
  if (text != nullptr)
    record_ = MakeRecord(AnsiToBstr(text));
}

SharedBstr::SharedBstr(const wchar_t* text) {
  if (text == nullptr)
    return;
  BSTR wide = SysAllocString(text);
  if (wide == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  record_ = MakeRecord(wide);
}

SharedBstr::SharedBstr(const SharedBstr& other) noexcept : record_(other.record_) {
  if (record_ != nullptr)
    ++record_->refs;
}

SharedBstr& SharedBstr::operator=(const SharedBstr& other) noexcept {
  if (record_ != other.record_) {
    if (other.record_ != nullptr)
      ++other.record_->refs;
    Release();
    record_ = other.record_;
  }
  return *this;
}

SharedBstr& SharedBstr::operator=(const char* text) {
  // Assigning the holder's own narrow copy would free it before it is read.
  if (text != nullptr && record_ != nullptr && record_->narrow == text)
    return *this;
  Record* fresh = text != nullptr ? MakeRecord(AnsiToBstr(text)) : nullptr;
  Release();
  record_ = fresh;
  return *this;
}

SharedBstr::~SharedBstr() {
  Release();
}

void SharedBstr::Release() noexcept {
  if (record_ == nullptr)
    return;
  if (--record_->refs == 0) {
    SysFreeString(record_->wide);
    delete[] record_->narrow;
    delete record_;
  }
  record_ = nullptr;
}

BSTR SharedBstr::Bstr() const noexcept {
  return record_ != nullptr ? record_->wide : nullptr;
}

const char* SharedBstr::Narrow() const {
  if (record_ == nullptr)
    return nullptr;
  if (record_->narrow == nullptr)
    record_->narrow = BstrToAnsi(record_->wide);
  return record_->narrow;
}

}  // namespace hvc
