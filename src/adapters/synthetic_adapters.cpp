// Synthetic adapters for callers that hold their own WMI objects: picking a settings object once a
// switch is known to have a port, removing a resource from a machine, adding a new adapter. They
// run on the connection that is open, and close it themselves on some failures.
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "adapters/shared.h"
#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

constexpr unsigned short kJobStarted = 4096;

// The first object of a query (flags 16); nothing when the query fails or delivers none.
hvc::ComPtr<IWbemClassObject> FirstObject(const std::string& query) {
  hvc::ComPtr<IWbemClassObject> object;
  hvc::FirstObject(query, object);
  return object;
}

// A text property converted whole (empty when it holds no text).
std::string WholeText(IWbemClassObject* object, const wchar_t* name) {
  hvc::VariantHolder value;
  hvc::GetProperty(object, name, value);
  const std::unique_ptr<char[]> narrow(hvc::BstrToAnsi(value.Get().vt == VT_BSTR ? value.Get().bstrVal : nullptr));
  return narrow ? std::string(narrow.get()) : std::string();
}

void ReportQueryFailure(HRESULT hr) {
  std::cout << "Query for VMs list failed.";
  hvc::ReportHresult(" Error code = 0x", hr);
}

enum class SwitchPorts { some, noSwitch, none };

// Whether the switch named `name` exists and has a port; a failed query is written to the console
// and counts as no switch.
SwitchPorts PortsOfSwitch(const char* name) {
  hvc::ComPtr<IEnumWbemClassObject> switches;
  HRESULT hr = hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kSwitchByNameUpper, name), hvc::kForwardOnly, switches);
  if (FAILED(hr)) {
    ReportQueryFailure(hr);
    return SwitchPorts::noSwitch;
  }
  hvc::ComPtr<IWbemClassObject> vswitch;
  ULONG returned = 0;
  if (hvc::NextObject(switches.Get(), vswitch, returned) == WBEM_S_FALSE || returned == 0 || !vswitch)
    return SwitchPorts::noSwitch;
  char path[1024] = {};
  hvc::GetText(vswitch.Get(), L"__PATH", path, sizeof path);
  hvc::ComPtr<IEnumWbemClassObject> ports;
  hr = hvc::ExecQuery(hvc::wql::AssociatorsOf(path, hvc::wql::kResultSwitchPort), hvc::kImmediate, ports);
  if (FAILED(hr)) {
    ReportQueryFailure(hr);
    return SwitchPorts::noSwitch;
  }
  hvc::ComPtr<IWbemClassObject> port;
  hvc::NextObject(ports.Get(), port, returned);
  return returned != 0 && port ? SwitchPorts::some : SwitchPorts::none;
}

// The pool's default settings for a new synthetic adapter, provided that the first settings the
// pool's capabilities define are the default ones and name this very object.
hvc::ComPtr<IWbemClassObject> DefaultSettings() {
  hvc::ComPtr<IWbemClassObject> pool =
      FirstObject(hvc::wql::Quoted(hvc::wql::kResourcePoolBySubtype, "Microsoft Synthetic Ethernet Port"));
  if (!pool)
    return {};
  hvc::ComPtr<IWbemClassObject> capabilities = FirstObject(
      hvc::wql::AssociatorsOf(WholeText(pool.Get(), L"__PATH").c_str(), hvc::wql::kResultAllocationCapabilities));
  if (!capabilities)
    return {};
  hvc::ComPtr<IWbemClassObject> defines = FirstObject(hvc::wql::ReferencesOf(
      WholeText(capabilities.Get(), L"__PATH").c_str(), hvc::wql::kResultSettingsDefineCapabilities));
  if (!defines || hvc::GetUint16(defines.Get(), L"ValueRole") != 0)
    return {};
  const std::string named = WholeText(defines.Get(), L"PartComponent");

  hvc::ComPtr<IWbemClassObject> settings = FirstObject(hvc::wql::DefaultAdapterSettings());
  if (!settings)
    return {};
  // Inside a path the InstanceID's backslashes are doubled; its closing character is left out.
  std::string escaped;
  for (const char c : WholeText(settings.Get(), L"InstanceID")) {
    escaped += c;
    if (c == '\\')
      escaped += '\\';
  }
  if (!escaped.empty())
    escaped.pop_back();
  if (named.find(escaped) == std::string::npos)
    return {};
  return settings;
}

// A new identifier for the adapter: a GUID in lower case between braces.
void PutNewIdentifier(IWbemClassObject* settings) {
  std::string identifier = "{";
  for (const char c : std::string(hvc::NewGuidName().name))
    identifier += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  identifier += "}";
  const hvc::BstrPtr wide(hvc::AnsiToBstr(identifier.c_str()));
  hvc::VariantHolder identifiers;
  hvc::MakeOneElementArray(wide.Get(), identifiers);
  const HRESULT hr = settings->Put(L"VirtualSystemIdentifiers", 0, &identifiers.Get(), 0);
  if (hr != 0)
    hvc::ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
}

// ExecMethod on the service instance; a negative HRESULT is written to the console.
HRESULT CallService(IWbemClassObject* service, const wchar_t* method, IWbemClassObject* in,
                    hvc::ComPtr<IWbemClassObject>& out) {
  hvc::VariantHolder path;
  hvc::GetProperty(service, L"__PATH", path);
  const HRESULT hr = hvc::ExecMethodOn(path.Get(), method, in, out);
  if (FAILED(hr))
    hvc::ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
  return hr;
}

}  // namespace

// The settings object handed back is simply the enumerator's first: nothing ties it to the switch.
IWbemClassObject* HypervConfig::GetSyntheticPort(IEnumWbemClassObject* settings, char* switchName) {
  if (settings == nullptr)
    return nullptr;
  hvc::ComPtr<IWbemClassObject> setting;
  ULONG returned = 0;
  hvc::NextObject(settings, setting, returned);
  if (returned == 0 || !setting) {
    closeWMIReferences();
    hvc::LogMsg("Unable to fetch SyntheticEthernetPortSettingData instance");
    return nullptr;
  }
  switch (PortsOfSwitch(switchName)) {
    case SwitchPorts::some:
      return setting.Detach();
    case SwitchPorts::none:
      setting.Reset();
      closeWMIReferences();
      hvc::LogMsg("Unable to fetch Switch Instance for %s", switchName);
      return nullptr;
    case SwitchPorts::noSwitch:
      break;
  }
  return nullptr;
}

// Only the method call and its ReturnValue decide the outcome; the preparation steps after
// GetMethod are not checked.
int HypervConfig::RemoveVNicFromVM(IWbemClassObject*, VARIANT& resourcePath, VARIANT& vmPath, char* name) {
  bool closeEarly = false;
  const int result = [&] {
    // Without a service instance there is nothing to call: fail, and leave the connection open
    // as nothing on the host has changed.
    hvc::ComPtr<IWbemClassObject> service = FirstObject(hvc::wql::kSystemService);
    if (!service)
      return 1;
    hvc::ComPtr<IWbemClassObject> signature;
    if (hvc::SystemServiceMethod(L"RemoveVirtualSystemResources", signature) != 0)
      return 1;
    hvc::ComPtr<IWbemClassObject> in;
    if (signature)
      signature->SpawnInstance(0, in.Put());
    if (in) {
      hvc::PutWideText(in.Get(), L"TargetSystem", vmPath.vt == VT_BSTR ? vmPath.bstrVal : nullptr, CIM_REFERENCE);
      hvc::VariantHolder resources;
      hvc::MakeOneElementArray(resourcePath.vt == VT_BSTR ? resourcePath.bstrVal : nullptr, resources);
      in->Put(L"ResourcesettingData", 0, &resources.Get(), 0);
    }
    hvc::ComPtr<IWbemClassObject> out;
    if (FAILED(CallService(service.Get(), L"RemoveVirtualSystemResources", in.Get(), out))) {
      closeEarly = true;
      return 1;
    }
    const unsigned short returnValue = hvc::ReturnValueOf(out.Get());
    hvc::LogMsg("Return value of RemoveVirtualSystemServices method %d", hvc::AsSigned16(returnValue));
    if (returnValue == 0)
      return 0;
    if (returnValue == kJobStarted)
      return GetJobStatus(out.Get(), 0);
    closeEarly = true;
    hvc::LogMsg("Adding resources failed for %s", name);
    return 1;
  }();
  if (closeEarly)
    closeWMIReferences();
  return result;
}

// Kinds other than 1 (the synthetic Ethernet port) name no resource subtype: nothing is added and
// the result is null.
IWbemClassObject* HypervConfig::CreateNetworkAdapter(VARIANT vmPath, char* searchPath, int kind) {
  if (kind != 1)
    return nullptr;
  bool closeEarly = false;
  hvc::ComPtr<IWbemClassObject> added = [&]() -> hvc::ComPtr<IWbemClassObject> {
    hvc::ComPtr<IWbemClassObject> settings = DefaultSettings();
    if (!settings)
      return {};
    hvc::PutWideText(settings.Get(), L"ElementName", L"Network Adapter", CIM_STRING);
    VARIANT staticMac;
    VariantInit(&staticMac);
    staticMac.vt = VT_BOOL;
    staticMac.boolVal = VARIANT_FALSE;
    settings->Put(L"StaticMacAddress", 0, &staticMac, CIM_STRING);
    PutNewIdentifier(settings.Get());

    hvc::ComPtr<IWbemClassObject> service = FirstObject(hvc::wql::kSystemService);
    if (!service)
      return {};
    hvc::ComPtr<IWbemClassObject> signature;
    hvc::ComPtr<IWbemClassObject> in;
    if (hvc::SystemServiceMethod(L"AddVirtualSystemResources", signature) != 0 || !signature ||
        signature->SpawnInstance(0, in.Put()) != 0)
      return {};
    if (hvc::PutWideText(in.Get(), L"TargetSystem", vmPath.vt == VT_BSTR ? vmPath.bstrVal : nullptr, CIM_REFERENCE) !=
        0)
      return {};

    hvc::SettingsText text;
    if (FAILED(text.Open(false)))
      return {};
    hvc::BstrPtr settingsText;
    if (text.Render(settings.Get(), settingsText) != 0)
      return {};
    hvc::VariantHolder texts;
    hvc::MakeOneElementArray(settingsText.Get(), texts);
    in->Put(L"ResourcesettingData", 0, &texts.Get(), 0);
    // The in-parameters must render as well, though their text is not used.
    hvc::BstrPtr parametersText;
    if (text.Render(in.Get(), parametersText) != 0)
      return {};

    hvc::ComPtr<IWbemClassObject> out;
    if (FAILED(CallService(service.Get(), L"AddVirtualSystemResources", in.Get(), out))) {
      closeEarly = true;
      return {};
    }
    const unsigned short returnValue = hvc::ReturnValueOf(out.Get());
    if (returnValue == 0) {
      std::printf("\n klklkl;klklklklkl;kl;kkklk ");
      return FirstObject(hvc::wql::AssociatorsOf(searchPath, hvc::wql::kResultSyntheticSettings));
    }
    // A started job is waited for, but its outcome cannot be told from a failure by the caller.
    if (returnValue == kJobStarted) {
      GetJobStatus(out.Get(), 0);
      return {};
    }
    closeEarly = true;
    hvc::LogMsg("Adding resources failed");
    return {};
  }();
  if (closeEarly)
    closeWMIReferences();
  return added.Detach();
}
