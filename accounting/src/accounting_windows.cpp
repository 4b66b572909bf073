// Counts of live COM resources on Windows, read by the tests' leak check.
//
// - COM initialisations: an IInitializeSpy, registered per thread (COM keeps initialize spies in
//   thread-local storage), counts each successful CoInitialize(Ex) and each CoUninitialize.
// - BSTRs and SAFEARRAYs: both come from the COM task allocator, so an IMallocSpy counts the
//   task-allocator blocks alive. They are reported as BSTRs; SAFEARRAYs stay 0. Freed BSTRs only
//   leave the allocator if OLE Automation's BSTR cache is off (OANOCACHE=1 in the environment
//   before the process starts: set later, it came too late under Wine; cmake/wine-run.sh sets it).
// - COM objects: implementations report themselves through ComObjectCreated/Destroyed
//   (com_objects.cpp, apart, so that a product that links the simulated host gets no spies).
#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <atomic>

#include "com_objects.h"
#include "winapi/accounting.h"

namespace {

std::atomic<long> g_taskBlocks{0};
thread_local long t_comInits = 0;

class InitializeSpy final : public IInitializeSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IInitializeSpy)) {
      *ppv = static_cast<IInitializeSpy*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Static lifetime: one instance serves every thread and is never freed.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
  // What this returns is what CoInitializeEx returns.
  HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hrCoInit, DWORD, DWORD) override {
    if (SUCCEEDED(hrCoInit))
      ++t_comInits;
    return hrCoInit;
  }
  HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override {
    --t_comInits;
    return S_OK;
  }
};

class MallocSpy final : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
      *ppv = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
  void* STDMETHODCALLTYPE PostAlloc(void* pActual) override {
    if (pActual != nullptr)
      ++g_taskBlocks;
    return pActual;
  }
  // Blocks allocated before the spy was registered were never counted, so are not uncounted.
  void* STDMETHODCALLTYPE PreFree(void* pRequest, BOOL fSpyed) override {
    if (pRequest != nullptr && fSpyed)
      --g_taskBlocks;
    return pRequest;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  // Realloc(NULL, n) allocates and Realloc(p, 0) frees; the pending call is remembered per thread.
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL fSpyed) override {
    t_reallocFrom = pRequest;
    t_reallocSize = cbRequest;
    t_reallocSpyed = fSpyed;
    *ppNewRequest = pRequest;
    return cbRequest;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* pActual, BOOL) override {
    if (t_reallocFrom == nullptr) {
      if (pActual != nullptr)
        ++g_taskBlocks;
    } else if (t_reallocSize == 0) {
      if (t_reallocSpyed)
        --g_taskBlocks;
    }
    return pActual;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* pRequest, BOOL) override { return pRequest; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  static thread_local void* t_reallocFrom;
  static thread_local SIZE_T t_reallocSize;
  static thread_local BOOL t_reallocSpyed;
};
thread_local void* MallocSpy::t_reallocFrom = nullptr;
thread_local SIZE_T MallocSpy::t_reallocSize = 0;
thread_local BOOL MallocSpy::t_reallocSpyed = FALSE;

InitializeSpy g_initializeSpy;
MallocSpy g_mallocSpy;
thread_local bool t_initializeSpyRegistered = false;

void RegisterInitializeSpyOnThisThread() {
  if (t_initializeSpyRegistered)
    return;
  ULARGE_INTEGER cookie{};
  t_initializeSpyRegistered = SUCCEEDED(CoRegisterInitializeSpy(&g_initializeSpy, &cookie));
}

// Before main, so that the spies see the whole of every test.
const bool g_registered = [] {
  CoRegisterMallocSpy(&g_mallocSpy);
  RegisterInitializeSpyOnThisThread();
  return true;
}();

}  // namespace

namespace winapi {

LiveCounts CurrentCounts() {
  // The initialize spy is per thread: a thread that reads its counts gets one from then on.
  RegisterInitializeSpyOnThisThread();
  return LiveCounts{g_taskBlocks.load(), 0, LiveComObjects(), t_comInits};
}

}  // namespace winapi
