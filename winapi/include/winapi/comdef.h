// _com_error and the raising helpers of <comdef.h>, for non-Windows builds.
#pragma once
// A system header to its consumers, whose warnings are not about it; its own build sees them.
#ifndef WINAPI_LAYER_BUILD
#pragma GCC system_header
#endif

#include <cstdio>

#include "winapi/oleauto.h"

class _com_error {
 public:
  explicit _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept
      : m_hresult(hr), m_perrinfo(perrinfo) {
    (void)fAddRef;  // no error-information objects exist here
  }
  _com_error(const _com_error& that) noexcept : m_hresult(that.m_hresult), m_perrinfo(that.m_perrinfo) {}
  _com_error& operator=(const _com_error& that) noexcept {
    m_hresult = that.m_hresult;
    m_perrinfo = that.m_perrinfo;
    m_text[0] = '\0';
    return *this;
  }
  virtual ~_com_error() = default;

  HRESULT Error() const noexcept { return m_hresult; }
  WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
  IErrorInfo* ErrorInfo() const noexcept { return m_perrinfo; }
  // The system's text for the code, or "Unknown error 0x%08X" when it has none.
  const char* ErrorMessage() const noexcept {
    if (m_text[0] == '\0') {
      DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)m_hresult,
                               LANG_USER_DEFAULT, m_text, sizeof m_text, nullptr);
      if (n == 0)
        std::snprintf(m_text, sizeof m_text, "Unknown error 0x%08X", (unsigned)m_hresult);
    }
    return m_text;
  }
  static HRESULT WCodeToHRESULT(WORD wCode) noexcept {
    return wCode >= 0xFE00 ? (HRESULT)0x80040000 + wCode : (HRESULT)(0x80040200u + wCode);
  }
  static WORD HRESULTToWCode(HRESULT hr) noexcept {
    return (hr >= (HRESULT)0x80040200 && hr <= (HRESULT)0x8004FFFF) ? (WORD)(hr - (HRESULT)0x80040200) : 0;
  }

 private:
  HRESULT m_hresult;
  IErrorInfo* m_perrinfo;
  mutable char m_text[256] = {};
};

[[noreturn]] inline void _com_raise_error(HRESULT hr, IErrorInfo* perrinfo = nullptr) {
  throw _com_error(hr, perrinfo);
}
[[noreturn]] inline void _com_issue_error(HRESULT hr) {
  _com_raise_error(hr, nullptr);
}
[[noreturn]] inline void _com_issue_errorex(HRESULT hr, IUnknown*, REFIID) {
  _com_raise_error(hr, nullptr);
}
