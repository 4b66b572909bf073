// Pointing an adapter's Connection at a switch port, or emptying it, and handing the changed
// settings to the machine with ModifyVirtualSystemResources.
#include <cstdio>

#include "hypervconfig.h"
#include "adapters/shared.h"
#include "core/bstr.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

const hvc::ServiceSteps kModifySteps{L"Msvm_VirtualSystemManagementService",
                                     hvc::wql::kSystemService,
                                     L"ModifyVirtualSystemResources",
                                     "Unable to get object Msvm_VirtualSystemManagementService",
                                     "Unable to query Msvm_VirtualSystemManagementService 0x%x",
                                     "Unable to fetch Msvm_VirtualSystemManagementService object 0x%x",
                                     "Unable to find method ModifyVirtualSystemResources 0x%x"};

HRESULT ReportArrayFailure(HRESULT hr) {
  return hvc::ReportIfFailed(hr, "Unable to put into safe array %x\n", "Unable to put into safe array 0x%x");
}

}  // namespace

// The result is that of handing over the change: neither its ReturnValue nor a job is looked at,
// so Hyper-V may still be applying it.
long HypervConfig::SetVNetAdapterToSwitchPortConnection(char* portName, VARIANT*, IWbemClassObject* adapter,
                                                        VARIANT* vmPath) {
  hvc::VariantHolder portPath;  // stays empty to disconnect
  if (portName != nullptr) {
    hvc::ComPtr<IWbemClassObject> port;
    const HRESULT hr = hvc::FindSwitchPort(portName, port);
    if (hr != 0)
      return hr;
    if (const HRESULT got = hvc::GetProperty(port.Get(), L"__PATH", portPath); got != 0) {
      hvc::LogMsg("Unable to get path for switch port with GUID %s", portName);
      return got;
    }
  }

  hvc::MethodCall call;
  HRESULT hr = hvc::PrepareServiceCall(kModifySteps, call);
  if (hr != 0)
    return hr;
  hr = call.In()->Put(L"ComputerSystem", 0, vmPath, CIM_REFERENCE);
  if (hr != 0) {
    hvc::LogMsg("Unable to put ComputerSystem 0x%x", hvc::AsHex(hr));
    return hr;
  }
  {
    hvc::VariantHolder connection;
    hr = ReportArrayFailure(hvc::MakeOneElementArray(hvc::TextOf(portPath.Get()), connection));
    if (FAILED(hr))
      return hr;
    // The caller's object keeps the new Connection whatever happens next.
    hr = hvc::ReportIfFailed(adapter->Put(L"Connection", 0, &connection.Get(), CIM_STRING | CIM_FLAG_ARRAY),
                             "Unable to put Connection %x\n", "Unable to put Connection 0x%x");
    if (FAILED(hr))
      return hr;
  }

  hvc::SettingsText text;
  hr = text.Open(true);
  if (FAILED(hr))
    return hr;
  hvc::BstrPtr settings;
  hr = text.Render(adapter, settings);
  if (hr != 0) {
    hvc::LogMsg("GetText of IWbemObjectTextSrc failed 0x%x", hvc::AsHex(hr));
    return hr;
  }
  hvc::VariantHolder settingsArray;
  hr = ReportArrayFailure(hvc::MakeOneElementArray(settings.Get(), settingsArray));
  if (FAILED(hr))
    return hr;
  hr = hvc::ReportIfFailed(call.In()->Put(L"ResourcesettingData", 0, &settingsArray.Get(), 0),
                           "Unable to put ResourcesettingData %x\n", "Unable to put ResourcesettingData 0x%x");
  if (FAILED(hr))
    return hr;

  hvc::ComPtr<IWbemClassObject> out;
  return hvc::CallService(call, L"ModifyVirtualSystemResources", out, false);
}

long HypervConfig::AttachSwitchPortToVirtualNetAdapter(char* portName, VARIANT* adapterPath, IWbemClassObject* adapter,
                                                       VARIANT* vmPath) {
  return SetVNetAdapterToSwitchPortConnection(portName, adapterPath, adapter, vmPath);
}

long HypervConfig::DetachSwitchPortFromVirtualNetAdapter(VARIANT* adapterPath, IWbemClassObject* adapter,
                                                         VARIANT* vmPath) {
  return SetVNetAdapterToSwitchPortConnection(nullptr, adapterPath, adapter, vmPath);
}
