// Opening and closing the process-wide WMI connection to ROOT\VIRTUALIZATION.
#include "core/connection.h"

#include <iostream>

#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"

namespace hvc {

ConnectionState& CurrentConnection() {
  static ConnectionState state;
  return state;
}

}  // namespace hvc

int HypervConfig::OpenWMIReferences() {
  hvc::ConnectionState& state = hvc::CurrentConnection();
  state = hvc::ConnectionState{};
  // An open while the caller holds the connection replaces it; the old references go.
  if (g_pServices != nullptr)
    g_pServices->Release();
  if (g_pLocator != nullptr)
    g_pLocator->Release();
  g_pServices = nullptr;
  g_pLocator = nullptr;

  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    hvc::ReportHresult("Failed to initialize COM library. Error code = 0x", hr);
    return -1;
  }
  state.comInitialised = true;

  hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                            nullptr, EOAC_NONE, nullptr);
  // Security is set once per process; a host that set it already is fine.
  if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
    hvc::ReportHresult("Failed to initialize security. Error code = 0x", hr);
    return -1;
  }

  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                        reinterpret_cast<LPVOID*>(&g_pLocator));
  if (FAILED(hr)) {
    std::cout << "Failed to create IWbemLocator object.";
    hvc::ReportHresult(" Err code = 0x", hr);
    return -1;
  }

  const hvc::SharedBstr resource(L"ROOT\\VIRTUALIZATION");
  hr = g_pLocator->ConnectServer(resource.Bstr(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &g_pServices);
  if (FAILED(hr)) {
    hvc::ReportHresult("Could not connect. Error code = 0x", hr);
    return -1;
  }

  CoSetProxyBlanket(g_pLocator, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  return 0;
}

int HypervConfig::closeWMIReferences() {
  if (g_pServices != nullptr)
    g_pServices->Release();
  if (g_pLocator != nullptr)
    g_pLocator->Release();
  CoUninitialize();
  hvc::CurrentConnection().comUninitialised = true;
  g_pServices = nullptr;
  g_pLocator = nullptr;
  return 0;
}

int HypervConfig::OpenWMINamespace() {
  return OpenWMIReferences();
}

int HypervConfig::CloseWMINamespace() {
  return closeWMIReferences();
}
