// Reference counting and QueryInterface for the simulated host's COM objects, and the count of
// live objects that tests read.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <atomic>
#include <cstddef>
#include <optional>
#include <string_view>

#include "simhost/provider/call_observer.hpp"
#include "simhost/provider/host.hpp"

namespace simhost::com {

// WBEM status codes are unsigned enumerators; HRESULTs are signed.
constexpr HRESULT wbem(WBEMSTATUS status) noexcept {
  return static_cast<HRESULT>(status);
}

std::optional<HRESULT> forced_by_rule(provider::CallObserver& observer, provider::Call call, std::wstring_view subject);

// The HRESULT a fault rule forces on a call, leaving the rule's last error on the thread. Most
// hosts have no rules: the check is then all there is.
inline std::optional<HRESULT> forced_by(provider::Host& host, provider::Call call, std::wstring_view subject) {
  provider::CallObserver& observer = host.observer();
  return observer.watching() ? forced_by_rule(observer, call, subject) : std::nullopt;
}

// Tells the live-object accounting that an object was made or destroyed.
void count_object(long delta) noexcept;

// Memory for the facade's objects: each thread keeps a few freed blocks of each size for the next
// object of that size (object_blocks.cpp).
void* take_block(std::size_t bytes);
void keep_block(void* block, std::size_t bytes) noexcept;

// IUnknown for an object implementing interface I, known by `iid`. Starts with one reference,
// which the creator hands out; the last Release deletes it.
template <class I>
class ComObject : public I {
 public:
  explicit ComObject(const IID& iid) noexcept : iid_(&iid) { count_object(+1); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() { count_object(-1); }

  static void* operator new(std::size_t bytes) { return take_block(bytes); }
  static void operator delete(void* block, std::size_t bytes) noexcept { keep_block(block, bytes); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *iid_)) {
      *ppv = static_cast<I*>(this);
    } else if (!query_extra(riid, ppv)) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0)
      delete this;
    return left;
  }

 protected:
  // For objects that answer to a further interface identifier; sets *ppv without AddRef.
  virtual bool query_extra(REFIID, void**) { return false; }

 private:
  const IID* iid_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace simhost::com
