// Switch ports: creating one on a switch, deleting one, and finding the one an adapter is
// connected to. They run on the connection the caller opened and return HRESULT-style results.
#include <cstdio>
#include <cstring>
#include <functional>

#include "hypervconfig.h"
#include "adapters/shared.h"
#include "core/bstr.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

// Puts one in-parameter; a negative result logs `log` and prints `console`, both with the value.
HRESULT PutParameter(IWbemClassObject* in, const wchar_t* name, const wchar_t* value, CIMTYPE type, const char* log,
                     const char* console) {
  return hvc::ReportIfFailed(hvc::PutWideText(in, name, value, type), console, log);
}

const wchar_t* TextOf(const VARIANT* value) {
  return value != nullptr ? hvc::TextOf(*value) : nullptr;
}

// One method of the switch management service. `put` fills the in-parameters and returns the
// first negative put result; `executed` runs once ExecMethod has succeeded. 0 when the method
// returned 0, 1 for any other ReturnValue (a started job included: nothing waits for it), else
// the HRESULT of the step that failed.
long CallSwitchService(const wchar_t* method, const char* noMethod,
                       const std::function<HRESULT(IWbemClassObject*)>& put, const std::function<void()>& executed) {
  const hvc::ServiceSteps steps{L"Msvm_VirtualSwitchManagementService",
                                hvc::wql::kSwitchService,
                                method,
                                "Unable to get object Msvm_VirtualSwitchManagementService",
                                "Unable to query Msvm_VirtualSwitchManagementService",
                                "Unable to fetch Msvm_VirtualSwitchManagementService object",
                                noMethod};
  hvc::MethodCall call;
  HRESULT hr = hvc::PrepareServiceCall(steps, call);
  if (hr != 0)
    return hr;
  hr = put(call.In());
  if (FAILED(hr))
    return hr;

  hvc::ComPtr<IWbemClassObject> out;
  hr = hvc::CallService(call, method, out, true);
  if (hr != 0)
    return hr;
  executed();
  hvc::VariantHolder returnValue;
  hr = out ? hvc::GetProperty(out.Get(), L"ReturnValue", returnValue) : static_cast<HRESULT>(WBEM_E_NOT_FOUND);
  return hvc::Uint16Of(returnValue.Get()) != 0 ? 1 : hr;
}

}  // namespace

long HypervConfig::CreateVirtualSwitchPort(VARIANT* switchPath, char* portName) {
  hvc::GuidName name{};
  const auto put = [&](IWbemClassObject* in) {
    HRESULT hr = PutParameter(in, L"VirtualSwitch", TextOf(switchPath), CIM_REFERENCE,
                              "Unable to put VirtualSwitch 0x%x", "VirtualSwitch put failed 0x%x\n");
    if (FAILED(hr))
      return hr;
    hr = PutParameter(in, L"FriendlyName", L"Torvane PX created", CIM_STRING, "Unable to put FriendlyName 0x%x",
                      "FriendlyName put failed 0x%x\n");
    if (FAILED(hr))
      return hr;
    name = hvc::NewGuidName();
    hr = hvc::ReportIfFailed(hvc::PutText(in, L"Name", name.name, CIM_STRING), "Name put failed 0x%x\n",
                             "Unable to put Name 0x%x");
    if (FAILED(hr))
      return hr;
    return PutParameter(in, L"ScopeOfResidence", L"", CIM_STRING, "Unable to put ScopeOfResidence 0x%x",
                        "ScopeOfResidence put failed 0x%x\n");
  };
  // The caller learns the name as soon as the host has the call, whatever it returns.
  const auto executed = [&] { std::memcpy(portName, name.name, 37); };
  return CallSwitchService(L"CreateSwitchPort", "Unable to find method CreateSwitchPort", put, executed);
}

long HypervConfig::DeleteVirtualSwitchPort(IWbemClassObject*, VARIANT* portPath) {
  const auto put = [&](IWbemClassObject* in) {
    return PutParameter(in, L"SwitchPort", TextOf(portPath), CIM_REFERENCE, "Unable to put VswitchPortPath 0x%x",
                        "VswitchPortPath put failed 0x%x\n");
  };
  return CallSwitchService(L"DeleteSwitchPort", "Unable to find method DeleteSwitchPort", put, [] {});
}

long HypervConfig::GetSwitchPortDetails(IWbemClassObject* adapter, IWbemClassObject** port, VARIANT* portPath) {
  hvc::VariantHolder connection;
  HRESULT hr = hvc::GetProperty(adapter, L"Connection", connection);
  if (hr != 0) {
    hvc::LogMsg("Unable to get Connection of switchport 0x%x\n", hvc::AsHex(hr));
    return hr;
  }
  // A Connection that is null, no array of strings, an empty array, an empty first element, or
  // a path without a port name all mean the same to the caller: there is no port to remove.
  char path[1024];
  char name[1024];
  if (!hvc::FirstString(connection.Get(), path, sizeof path) || path[0] == '\0' ||
      !hvc::KeyValue(path, hvc::Key::second, name, sizeof name)) {
    hvc::LogMsg("Unable to find switchport to delete\n");
    return 1;
  }

  hvc::ComPtr<IWbemClassObject> found;
  hr = hvc::FindSwitchPort(name, found);
  if (hr != 0)
    return hr;
  *port = found.Detach();  // the caller's from here on, whatever follows
  hr = (*port)->Get(L"__PATH", 0, portPath, nullptr, nullptr);
  if (hr != 0) {
    hvc::LogMsg("Unable to get path for switch port attached to virtual  network adapter");
    return hr;
  }
  return 0;
}
