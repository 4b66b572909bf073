// The COM runtime: per-thread apartments, process-wide security and class table, and GUIDs.
#include <algorithm>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "winapi/com.h"
#include "internal.h"

namespace {

enum class Apartment { None, Single, Multi };

// Everything that lives as long as COM is up somewhere in the process.
struct Process {
  std::mutex mutex;
  long apartments = 0;  // threads with at least one unbalanced successful initialisation
  long mtaThreads = 0;  // of those, the ones in the multithreaded apartment
  bool securityInitialised = false;
  struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;
    DWORD context;
    DWORD flags;
    Apartment apartment;
    std::thread::id owner;  // the registering thread, for single-threaded apartments
  };
  std::vector<Registration> classes;
  DWORD nextCookie = 1;
};

Process& TheProcess() {
  static Process* p = new Process;  // never destroyed: threads may outlive static destruction
  return *p;
}

// The calling thread's apartment; the count of its initialisations is kept in accounting.cpp.
struct ThreadApartment {
  Apartment model = Apartment::None;
  ~ThreadApartment();
};
thread_local ThreadApartment t_apartment;

bool ComUp() {
  return winapi::detail::ThreadComInits() > 0;
}

// Takes the calling thread out of its apartment. Class objects that its apartment registered are
// revoked with it, as Windows does; the last apartment out tears down the process's COM state.
void LeaveApartment(Apartment model) {
  Process& p = TheProcess();
  std::vector<IUnknown*> released;
  {
    std::lock_guard lock(p.mutex);
    const bool lastInMta = model == Apartment::Multi && --p.mtaThreads == 0;
    const auto self = std::this_thread::get_id();
    std::erase_if(p.classes, [&](const Process::Registration& r) {
      const bool goes = (r.apartment == Apartment::Single && model == Apartment::Single && r.owner == self) ||
                        (r.apartment == Apartment::Multi && lastInMta);
      if (goes)
        released.push_back(r.object);
      return goes;
    });
    if (--p.apartments == 0)
      p.securityInitialised = false;
  }
  for (IUnknown* object : released)
    object->Release();
}

ThreadApartment::~ThreadApartment() {
  // A thread that ends without balancing its initialisations still leaves its apartment.
  long& inits = winapi::detail::ThreadComInits();
  if (inits > 0 && model != Apartment::None) {
    inits = 0;
    LeaveApartment(model);
  }
}

// Finds a visible registration for the class and returns its object AddRef'd, or null.
IUnknown* FindClassObject(REFCLSID clsid, DWORD context) {
  Process& p = TheProcess();
  std::lock_guard lock(p.mutex);
  for (Process::Registration& r : p.classes) {
    if (r.clsid != clsid || (r.context & context) == 0)
      continue;
    // Single use limits other processes to one connection; requests from within the process are
    // all served. A suspended registration stays hidden.
    if ((r.flags & REGCLS_SUSPENDED) != 0)
      continue;
    r.object->AddRef();
    return r.object;
  }
  return nullptr;
}

std::mutex g_guidMutex;

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
  constexpr DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (pvReserved != nullptr || (dwCoInit & ~known) != 0)
    return E_INVALIDARG;
  const Apartment wanted = (dwCoInit & COINIT_APARTMENTTHREADED) != 0 ? Apartment::Single : Apartment::Multi;
  long& inits = winapi::detail::ThreadComInits();
  if (inits > 0) {
    if (t_apartment.model != wanted)
      return RPC_E_CHANGED_MODE;
    ++inits;
    return S_FALSE;
  }
  {
    Process& p = TheProcess();
    std::lock_guard lock(p.mutex);
    ++p.apartments;
    if (wanted == Apartment::Multi)
      ++p.mtaThreads;
  }
  t_apartment.model = wanted;
  inits = 1;
  return S_OK;
}

void CoUninitialize(void) {
  long& inits = winapi::detail::ThreadComInits();
  if (inits <= 0)
    return;
  if (--inits > 0)
    return;
  const Apartment model = t_apartment.model;
  t_apartment.model = Apartment::None;
  LeaveApartment(model);
}

HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR, LONG cAuthSvc, SOLE_AUTHENTICATION_SERVICE* asAuthSvc, void*, DWORD,
                             DWORD, void*, DWORD, void*) {
  // -1 lets COM choose the services; a positive count needs the list.
  if (cAuthSvc < -1 || (cAuthSvc > 0 && asAuthSvc == nullptr))
    return E_INVALIDARG;
  if (!ComUp())
    return CO_E_NOTINITIALIZED;
  Process& p = TheProcess();
  std::lock_guard lock(p.mutex);
  if (p.securityInitialised)
    return RPC_E_TOO_LATE;
  p.securityInitialised = true;
  for (LONG i = 0; i < cAuthSvc; ++i)
    asAuthSvc[i].hr = S_OK;
  return S_OK;
}

HRESULT CoSetProxyBlanket(IUnknown* pProxy, DWORD, DWORD, OLECHAR*, DWORD, DWORD, RPC_AUTH_IDENTITY_HANDLE, DWORD) {
  if (pProxy == nullptr)
    return E_INVALIDARG;
  // Every object here lives in this process and is reached directly, so there is no proxy whose
  // blanket could differ; callers treat success as "the blanket applies", which is true.
  return S_OK;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister) {
  if (pUnk == nullptr || lpdwRegister == nullptr)
    return E_INVALIDARG;
  *lpdwRegister = 0;
  constexpr DWORD knownFlags = REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE | REGCLS_SUSPENDED | REGCLS_SURROGATE;
  if ((flags & ~knownFlags) != 0 || dwClsContext == 0)
    return E_INVALIDARG;
  if (!ComUp())
    return CO_E_NOTINITIALIZED;
  // A multiple-use local server also serves in-process requests; a separate one must say so itself.
  if ((flags & REGCLS_MULTIPLEUSE) != 0 && (dwClsContext & CLSCTX_LOCAL_SERVER) != 0)
    dwClsContext |= CLSCTX_INPROC_SERVER;
  pUnk->AddRef();
  Process& p = TheProcess();
  std::lock_guard lock(p.mutex);
  DWORD cookie = p.nextCookie++;
  if (cookie == 0)
    cookie = p.nextCookie++;  // zero never names a registration
  p.classes.push_back({cookie, rclsid, pUnk, dwClsContext, flags, t_apartment.model, std::this_thread::get_id()});
  *lpdwRegister = cookie;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
  IUnknown* object = nullptr;
  {
    Process& p = TheProcess();
    std::lock_guard lock(p.mutex);
    const auto it = std::find_if(p.classes.begin(), p.classes.end(),
                                 [&](const Process::Registration& r) { return r.cookie == dwRegister; });
    if (it == p.classes.end())
      return E_INVALIDARG;  // the documented result for a token not registered
    object = it->object;
    p.classes.erase(it);
  }
  object->Release();  // outside the lock: the object may call back into COM as it goes
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr)
    return E_POINTER;
  *ppv = nullptr;
  if (!ComUp())
    return CO_E_NOTINITIALIZED;
  // An aggregated object can only hand its inner IUnknown to the outer one.
  if (pUnkOuter != nullptr && riid != IID_IUnknown)
    return CLASS_E_NOAGGREGATION;
  IUnknown* object = FindClassObject(rclsid, dwClsContext);
  if (object == nullptr)
    return REGDB_E_CLASSNOTREG;
  IClassFactory* factory = nullptr;
  HRESULT hr = object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
  object->Release();
  if (FAILED(hr))
    return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CoCreateGuid(GUID* pguid) {
  if (pguid == nullptr)
    return E_INVALIDARG;
  static std::mt19937_64 engine{[] {
    std::random_device device;
    std::seed_seq seeds{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seeds);
  }()};
  uint64_t high, low;
  {
    std::lock_guard lock(g_guidMutex);
    high = engine();
    low = engine();
  }
  pguid->Data1 = static_cast<uint32_t>(high >> 32);
  pguid->Data2 = static_cast<uint16_t>(high >> 16);
  pguid->Data3 = static_cast<uint16_t>((high & 0x0FFF) | 0x4000);  // version 4: random
  for (int i = 0; i < 8; ++i)
    pguid->Data4[i] = static_cast<uint8_t>(low >> (56 - 8 * i));
  pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3F) | 0x80);  // the RFC 4122 variant
  return S_OK;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  constexpr int chars = 39;  // "{8-4-4-4-12}" and the terminating zero
  if (lpsz == nullptr || cchMax < chars)
    return 0;
  static constexpr char hex[] = "0123456789ABCDEF";
  int at = 0;
  auto put = [&](uint64_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
      lpsz[at++] = hex[(value >> shift) & 0xF];
  };
  lpsz[at++] = L'{';
  put(rguid.Data1, 8);
  lpsz[at++] = L'-';
  put(rguid.Data2, 4);
  lpsz[at++] = L'-';
  put(rguid.Data3, 4);
  lpsz[at++] = L'-';
  put(rguid.Data4[0], 2);
  put(rguid.Data4[1], 2);
  lpsz[at++] = L'-';
  for (int i = 2; i < 8; ++i)
    put(rguid.Data4[i], 2);
  lpsz[at++] = L'}';
  lpsz[at++] = L'\0';
  return at;
}

}  // extern "C"
