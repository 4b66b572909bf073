// _com_error of <comdef.h>, for non-Windows builds.
#pragma once
// A system header to its consumers, whose warnings are not about it; its own build sees them.
#ifndef WINAPI_LAYER_BUILD
#pragma GCC system_header
#endif

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
    return *this;
  }
  virtual ~_com_error() = default;

  HRESULT Error() const noexcept { return m_hresult; }
  IErrorInfo* ErrorInfo() const noexcept { return m_perrinfo; }

 private:
  HRESULT m_hresult;
  IErrorInfo* m_perrinfo;
};
