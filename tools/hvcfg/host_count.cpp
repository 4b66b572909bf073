#include "host_count.h"

#include <windows.h>
#include <wbemidl.h>

#include <utility>

namespace hvcfg {

namespace {

template <class T>
class Owned {
 public:
  Owned() = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Reset(); }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_ != nullptr)
      std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }

 private:
  BSTR b_;
};

class ComScope {
 public:
  ComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (ok_)
      CoUninitialize();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace

std::optional<unsigned long> CountObjects(const wchar_t* query) {
  const ComScope com;
  if (!com.ok())
    return std::nullopt;
  Owned<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(locator.Put()))))
    return std::nullopt;
  const Bstr space(L"ROOT\\VIRTUALIZATION"), language(L"WQL"), text(query);
  Owned<IWbemServices> services;
  if (FAILED(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Put())))
    return std::nullopt;
  CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  Owned<IEnumWbemClassObject> objects;
  if (FAILED(services->ExecQuery(language.Get(), text.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, objects.Put())))
    return std::nullopt;
  unsigned long count = 0;
  for (;;) {
    IWbemClassObject* batch[64] = {};
    ULONG returned = 0;
    const HRESULT hr = objects->Next(static_cast<LONG>(WBEM_INFINITE), 64, batch, &returned);
    for (ULONG i = 0; i < returned; ++i)
      batch[i]->Release();
    count += returned;
    if (FAILED(hr))
      return std::nullopt;
    if (hr != WBEM_S_NO_ERROR || returned == 0)
      return count;
  }
}

}  // namespace hvcfg
