// The COM runtime as the library relies on it: apartments, process security, the class table and
// GUID text. Apartment state is per thread, so each test runs its COM work on a thread of its own.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "wine.h"

namespace {

template <typename Body>
void OnThread(Body body) {
  std::thread(body).join();
}

const CLSID kClsid = {0x1B6F4C2E, 0x8D3A, 0x4E55, {0x9A, 0x10, 0x3C, 0x7E, 0x21, 0x5B, 0x44, 0x90}};

// Its instances are new references to itself, so its count shows whether COM balanced every one.
struct SelfFactory : IClassFactory {
  std::atomic<ULONG> refs{1};
  std::atomic<int> creations{0};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory);
    *ppv = known ? this : nullptr;
    return known ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    ++creations;
    *ppv = nullptr;
    return outer != nullptr ? CLASS_E_NOAGGREGATION : QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

HRESULT InitSecurity() {
  return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                              nullptr, EOAC_NONE, nullptr);
}

TEST(ComApartments, NestingModelChangesAndBalance) {
  OnThread([] {
    CoUninitialize();  // on a thread that never initialised: harmless
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);  // one still open
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED),
              S_OK);  // fully balanced: the thread may pick a new model
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
  });
}

constexpr const char* kWineSecurity = "Wine's CoInitializeSecurity accepts every call";

TEST(ComSecurity, OncePerProcessUntilComIsTornDown) {
  OnThread([] {
    HVC_EXPECT_UNLESS_WINE(InitSecurity() == CO_E_NOTINITIALIZED, kWineSecurity);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(InitSecurity(), S_OK);
    HVC_EXPECT_UNLESS_WINE(InitSecurity() == RPC_E_TOO_LATE, kWineSecurity);
    OnThread([] {  // another apartment of the same process sees the same settings
      ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
      HVC_EXPECT_UNLESS_WINE(InitSecurity() == RPC_E_TOO_LATE, kWineSecurity);
      CoUninitialize();
    });
    CoUninitialize();
  });
  OnThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(InitSecurity(), S_OK);  // the last uninitialisation forgot the settings
    CoUninitialize();
  });
}

HRESULT Create(IUnknown* outer, REFIID iid, IUnknown** object) {
  *object = reinterpret_cast<IUnknown*>(0x1);  // must be cleared on failure
  return CoCreateInstance(kClsid, outer, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(object));
}

TEST(ComClassTable, RegisterCreateRevoke) {
  OnThread([] {
    IUnknown* object = nullptr;
    EXPECT_EQ(Create(nullptr, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(Create(nullptr, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);

    SelfFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClsid, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    const ULONG registered = factory.refs;
    for (int i = 0; i < 2; ++i) {  // a multiple-use registration serves every request
      ASSERT_EQ(Create(nullptr, IID_IUnknown, &object), S_OK);
      EXPECT_EQ(object, static_cast<IUnknown*>(&factory));
      EXPECT_EQ(object->Release(), registered);
    }
    // Aggregation asks for IUnknown; whether COM or the factory refuses other interfaces is not
    // documented, only the result.
    EXPECT_EQ(Create(&factory, IID_IClassFactory, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Create(&factory, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);  // the factory's own answer

    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory.refs.load(), 1u);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);  // no longer a registration's token
    EXPECT_EQ(Create(nullptr, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    CoUninitialize();
  });
}

TEST(ComGuids, TextFormRoundTrips) {
  const struct {
    GUID guid;
    const wchar_t* text;
  } cases[] = {
      {IID_IUnknown, L"{00000000-0000-0000-C000-000000000046}"},
      {{0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}},
       L"{4590F811-1D3A-11D0-891F-00AA004B2E24}"},
  };
  for (const auto& c : cases) {
    wchar_t text[64];
    EXPECT_EQ(StringFromGUID2(c.guid, text, 39), 39);
    EXPECT_STREQ(text, c.text);
  }
  wchar_t small[38];
  std::fill(std::begin(small), std::end(small), L'#');
  EXPECT_EQ(StringFromGUID2(IID_IUnknown, small, 38), 0);
  EXPECT_EQ(small[0], L'#');
}

TEST(ComGuids, CreatedGuidsAreRandomVersion4) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 1000; ++i) {
    GUID guid;
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    EXPECT_EQ(guid.Data3 >> 12, 4);
    EXPECT_EQ(guid.Data4[0] & 0xC0, 0x80);
    wchar_t text[39];
    ASSERT_EQ(StringFromGUID2(guid, text, 39), 39);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
