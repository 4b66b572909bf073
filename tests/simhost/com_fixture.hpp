// The simulated host installed for a test and reached through the WMI client interfaces, with
// small owners for what those calls hand out.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <wbemidl.h>

#include <memory>
#include <string>
#include <vector>

#include "simhost/com/installation.hpp"
#include "simhost/provider/simulated_host.hpp"

namespace simhost::test {

using simhost::provider::SimulatedHost;

template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  ~Ref() { reset(); }
  void reset() {
    if (p != nullptr)
      p->Release();
    p = nullptr;
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
  operator T*() const { return p; }
};

struct Bstr {
  BSTR b;
  explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
  Bstr(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b); }
  operator BSTR() const { return b; }
};

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const wchar_t* text) : Var() { v.vt = VT_BSTR, v.bstrVal = SysAllocString(text); }
  explicit Var(bool value) : Var() { v.vt = VT_BOOL, v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; }
  Var(const Var&) = delete;
  ~Var() { VariantClear(&v); }
  VARIANT* operator&() { return &v; }
};

class Facade : public testing::Test {
 protected:
  void SetUp() override { Install(simhost::provider::default_host_description()); }
  // Installs a host made from `description` and connects to it.
  void Install(const simhost::provider::HostDescription& description) {
    Disconnect();
    host_ = std::make_shared<SimulatedHost>(description);
    host_->set_recording(true);
    install_ = std::make_unique<simhost::com::Installation>(host_);
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(&locator_)),
              S_OK);
    Bstr ns(L"root\\Virtualization");
    ASSERT_EQ(locator_->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services_), S_OK);
  }
  void TearDown() override { Disconnect(); }
  void Disconnect() {
    services_.reset();
    locator_.reset();
    install_.reset();
  }

  // ExecQuery("WQL", text, flags).
  HRESULT Exec(const wchar_t* text, long flags, Ref<IEnumWbemClassObject>& found) {
    Bstr wql(L"WQL");
    Bstr query(text);
    return services_->ExecQuery(wql, query, flags, nullptr, &found);
  }
  // Runs a query and collects its objects; the failure of ExecQuery or of a Next otherwise.
  HRESULT Query(const wchar_t* text, std::vector<IWbemClassObject*>& out, long flags = 48) {
    Ref<IEnumWbemClassObject> found;
    const HRESULT hr = Exec(text, flags, found);
    if (FAILED(hr))
      return hr;
    for (;;) {
      IWbemClassObject* object = nullptr;
      ULONG returned = 0;
      const HRESULT next = found->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned);
      if (returned == 0) {
        if (FAILED(next))  // a semisynchronous query's error
          return next;
        EXPECT_EQ(next, WBEM_S_FALSE);
        break;
      }
      EXPECT_EQ(next, WBEM_S_NO_ERROR);
      out.push_back(object);
    }
    return hr;
  }
  std::wstring Text(IWbemClassObject* object, const wchar_t* property) {
    Var value;
    EXPECT_EQ(object->Get(property, 0, &value, nullptr, nullptr), S_OK) << property;
    return value.v.vt == VT_BSTR ? std::wstring(value.v.bstrVal) : std::wstring();
  }
  std::wstring FirstPath(const wchar_t* query) {
    std::vector<IWbemClassObject*> objects;
    Query(query, objects);
    std::wstring path = objects.empty() ? L"" : Text(objects[0], L"__PATH");
    for (IWbemClassObject* o : objects)
      o->Release();
    return path;
  }

  // A fresh instance of the in-parameters of `cls`'s `method`.
  void InParams(const wchar_t* cls, const wchar_t* method, Ref<IWbemClassObject>& in) {
    Ref<IWbemClassObject> klass, signature;
    ASSERT_EQ(services_->GetObject(Bstr(cls), 0, nullptr, &klass, nullptr), S_OK);
    ASSERT_EQ(klass->GetMethod(method, 0, &signature, nullptr), S_OK);
    ASSERT_EQ(signature->SpawnInstance(0, &in), S_OK);
  }
  static void PutText(IWbemClassObject* o, const wchar_t* name, const std::wstring& text, CIMTYPE type) {
    Var v(text.c_str());
    EXPECT_EQ(o->Put(name, 0, &v, type), S_OK) << name;
  }

  std::shared_ptr<SimulatedHost> host_;
  std::unique_ptr<simhost::com::Installation> install_;
  Ref<IWbemLocator> locator_;
  Ref<IWbemServices> services_;
};

}  // namespace simhost::test
