// Opening and closing the process-wide WMI connection to ROOT\VIRTUALIZATION.
#include "hypervconfig.h"
#include "core/connection.h"

#include <iostream>

#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"

IWbemLocator* g_pLocator = nullptr;
IWbemServices* g_pServices = nullptr;
vExtPort* g_extPortList = nullptr;
vMachines* g_vmList = nullptr;
vNetwork* g_switchList = nullptr;
vAssocAdapter* g_adapterList = nullptr;

namespace hvc {

namespace {
// Whether the last open initialised COM on this thread (so that the frame may balance it), and
// whether a close during the current call has already uninitialised it.
bool g_comInitialised = false;
bool g_comUninitialised = false;
}  // namespace

int Connection::Open() {
  g_comInitialised = false;
  g_comUninitialised = false;
  // An open while the caller holds the connection replaces it; the old references go.
  ReleaseReferences();

  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    ReportHresult("Failed to initialize COM library. Error code = 0x", hr);
    return -1;
  }
  g_comInitialised = true;

  hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                            nullptr, EOAC_NONE, nullptr);
  // Security is set once per process; a host that set it already is fine.
  if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
    ReportHresult("Failed to initialize security. Error code = 0x", hr);
    return -1;
  }

  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                        reinterpret_cast<LPVOID*>(&g_pLocator));
  if (FAILED(hr)) {
    std::cout << "Failed to create IWbemLocator object.";
    ReportHresult(" Err code = 0x", hr);
    return -1;
  }

  const BstrPtr resource(SysAllocString(L"ROOT\\VIRTUALIZATION"));
  hr = g_pLocator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &g_pServices);
  if (FAILED(hr)) {
    ReportHresult("Could not connect. Error code = 0x", hr);
    return -1;
  }

  CoSetProxyBlanket(g_pLocator, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  return 0;
}

void Connection::ReleaseReferences() {
  if (g_pServices != nullptr)
    g_pServices->Release();
  if (g_pLocator != nullptr)
    g_pLocator->Release();
  g_pServices = nullptr;
  g_pLocator = nullptr;
}

void Connection::Close() {
  ReleaseReferences();
  CoUninitialize();
  g_comUninitialised = true;
}

void Connection::LeaveAs(Leave how) {
  if (how == Leave::closed)
    Close();
  else if (how == Leave::references)
    ReleaseReferences();
}

void Connection::EndFrame() {
  ReleaseReferences();
  // A failed CoInitializeEx initialised nothing, and the caller's COM is not ours to undo.
  if (g_comInitialised && !g_comUninitialised)
    CoUninitialize();
  g_comUninitialised = true;
}

}  // namespace hvc

int HypervConfig::OpenWMIReferences() {
  return hvc::Connection::Open();
}

int HypervConfig::closeWMIReferences() {
  hvc::Connection::Close();
  return 0;
}

int HypervConfig::OpenWMINamespace() {
  return OpenWMIReferences();
}

int HypervConfig::CloseWMINamespace() {
  return closeWMIReferences();
}
