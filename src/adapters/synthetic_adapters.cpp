// Synthetic adapters for callers that hold their own WMI objects: picking a settings object once a
// switch is known to have a port, removing a resource from a machine, adding a new adapter. They
// run on the connection that is open, and close it themselves on some failures.
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "hypervconfig.h"
#include "adapters/shared.h"
#include "core/bstr.h"
#include "core/connection.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

constexpr unsigned short kJobStarted = 4096;

// A text property converted whole (empty when it holds no text).
// A property's whole text, or nothing when it cannot be read or is no text.
std::optional<std::string> ReadText(IWbemClassObject* object, const wchar_t* name) {
  hvc::VariantHolder value;
  if (FAILED(hvc::GetProperty(object, name, value)) || value.Get().vt != VT_BSTR)
    return std::nullopt;
  const std::unique_ptr<char[]> narrow(hvc::BstrToAnsi(value.Get().bstrVal));
  return narrow ? std::string(narrow.get()) : std::string();
}

std::string WholeText(IWbemClassObject* object, const wchar_t* name) {
  return ReadText(object, name).value_or(std::string());
}

enum class SwitchPorts { some, noSwitch, none };

// Whether the switch named `name` exists and has a port; a failed query is written to the console
// and counts as no switch.
SwitchPorts PortsOfSwitch(const char* name) {
  hvc::ComPtr<IEnumWbemClassObject> switches;
  HRESULT hr = hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kSwitchByNameUpper, name), hvc::kForwardOnly, switches);
  if (FAILED(hr)) {
    hvc::ReportVmQueryFailure(hr);
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
    hvc::ReportVmQueryFailure(hr);
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
      hvc::FirstObject(hvc::wql::Quoted(hvc::wql::kResourcePoolBySubtype, "Microsoft Synthetic Ethernet Port"));
  if (!pool)
    return {};
  hvc::ComPtr<IWbemClassObject> capabilities = hvc::FirstObject(
      hvc::wql::AssociatorsOf(WholeText(pool.Get(), L"__PATH").c_str(), hvc::wql::kResultAllocationCapabilities));
  if (!capabilities)
    return {};
  hvc::ComPtr<IWbemClassObject> defines = hvc::FirstObject(hvc::wql::ReferencesOf(
      WholeText(capabilities.Get(), L"__PATH").c_str(), hvc::wql::kResultSettingsDefineCapabilities));
  // A role that cannot be read is not taken for the default one.
  hvc::VariantHolder role;
  if (!defines || FAILED(hvc::GetProperty(defines.Get(), L"ValueRole", role)) || hvc::Uint16Of(role.Get()) != 0)
    return {};
  const std::string named = WholeText(defines.Get(), L"PartComponent");

  hvc::ComPtr<IWbemClassObject> settings = hvc::FirstObject(hvc::wql::DefaultAdapterSettings());
  if (!settings)
    return {};
  // Inside a path the InstanceID's backslashes are doubled; its closing character is left out.
  // Without an InstanceID there is nothing to compare, and an empty text would match any path.
  const std::optional<std::string> instance = ReadText(settings.Get(), L"InstanceID");
  if (!instance)
    return {};
  std::string escaped;
  for (const char c : *instance) {
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
HRESULT CallService(hvc::MethodCall& service, const wchar_t* method, hvc::ComPtr<IWbemClassObject>& out) {
  const HRESULT hr = service.Call(method, out);
  if (FAILED(hr))
    hvc::ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
  return hr;
}

}  // namespace

// The settings object handed back is simply the enumerator's first: nothing ties it to the switch.
IWbemClassObject* HypervConfig::GetSyntheticPort(IEnumWbemClassObject* settings, char* switchName) {
  if (settings == nullptr)
    return nullptr;
  return hvc::EndWorker([&]() -> hvc::Ending<hvc::ComPtr<IWbemClassObject>> {
           hvc::ComPtr<IWbemClassObject> setting = hvc::FirstOf(settings);
           if (!setting) {
             hvc::LogMsg("Unable to fetch SyntheticEthernetPortSettingData instance");
             return {{}, hvc::Leave::closed};
           }
           switch (PortsOfSwitch(switchName)) {
             case SwitchPorts::some:
               return {std::move(setting)};
             case SwitchPorts::none:
               hvc::LogMsg("Unable to fetch Switch Instance for %s", switchName);
               return {{}, hvc::Leave::closed};
             case SwitchPorts::noSwitch:
               break;
           }
           return {};
         })
      .Detach();
}

// Only the method call and its ReturnValue decide the outcome; the preparation steps after
// GetMethod are not checked.
int HypervConfig::RemoveVNicFromVM(IWbemClassObject*, VARIANT& resourcePath, VARIANT& vmPath, char* name) {
  return hvc::EndWorker([&]() -> hvc::Ending<int> {
    // Without a service instance there is nothing to call: fail, and leave the connection open
    // as nothing on the host has changed.
    hvc::MethodCall service;
    if (service.Instance(hvc::wql::kSystemService) != 0)
      return {1};
    if (service.Class(L"Msvm_VirtualSystemManagementService", true) != 0 ||
        service.Signature(L"RemoveVirtualSystemResources", true) != 0)
      return {1};
    service.Spawn();
    if (IWbemClassObject* in = service.In()) {
      hvc::PutWideText(in, L"TargetSystem", hvc::TextOf(vmPath), CIM_REFERENCE);
      hvc::VariantHolder resources;
      hvc::MakeOneElementArray(hvc::TextOf(resourcePath), resources);
      in->Put(L"ResourcesettingData", 0, &resources.Get(), 0);
    }
    hvc::ComPtr<IWbemClassObject> out;
    if (FAILED(CallService(service, L"RemoveVirtualSystemResources", out)))
      return {1, hvc::Leave::closed};
    const unsigned short returnValue = hvc::ReturnValueOf(out.Get());
    hvc::LogMsg("Return value of RemoveVirtualSystemServices method %d", hvc::AsSigned16(returnValue));
    if (returnValue == 0)
      return {0};
    if (returnValue == kJobStarted)
      return {GetJobStatus(out.Get(), 0)};
    hvc::LogMsg("Adding resources failed for %s", name);
    return {1, hvc::Leave::closed};
  });
}

// Kinds other than 1 (the synthetic Ethernet port) name no resource subtype: nothing is added and
// the result is null. A step that fails without a line of its own ends the member with null.
IWbemClassObject* HypervConfig::CreateNetworkAdapter(VARIANT vmPath, char* searchPath, int kind) {
  if (kind != 1)
    return nullptr;
  using Added = hvc::Ending<hvc::ComPtr<IWbemClassObject>>;
  return hvc::EndWorker([&]() -> Added {
           hvc::ComPtr<IWbemClassObject> settings = DefaultSettings();
           if (!settings)
             return {};
           // These two puts are not judged: StaticMacAddress goes in with CIM type 8 though it is a
           // boolean, which a host may refuse, and the adapter is made all the same.
           hvc::PutWideText(settings.Get(), L"ElementName", L"Network Adapter", CIM_STRING);
           VARIANT staticMac;
           VariantInit(&staticMac);
           staticMac.vt = VT_BOOL;
           staticMac.boolVal = VARIANT_FALSE;
           settings->Put(L"StaticMacAddress", 0, &staticMac, CIM_STRING);
           PutNewIdentifier(settings.Get());

           hvc::MethodCall service;
           if (service.Instance(hvc::wql::kSystemService) != 0 ||
               service.Prepare(L"Msvm_VirtualSystemManagementService", L"AddVirtualSystemResources", true) != 0)
             return {};
           IWbemClassObject* in = service.In();
           if (hvc::PutWideText(in, L"TargetSystem", hvc::TextOf(vmPath), CIM_REFERENCE) != 0)
             return {};

           hvc::SettingsText text;
           if (FAILED(text.Open(false)))
             return {};
           hvc::BstrPtr settingsText;
           if (text.Render(settings.Get(), settingsText) != 0)
             return {};
           hvc::VariantHolder texts;
           if (hvc::MakeOneElementArray(settingsText.Get(), texts) != 0 ||
               in->Put(L"ResourcesettingData", 0, &texts.Get(), 0) != 0)
             return {};
           // The in-parameters must render as well, though their text is not used.
           hvc::BstrPtr parametersText;
           if (text.Render(in, parametersText) != 0)
             return {};

           hvc::ComPtr<IWbemClassObject> out;
           if (FAILED(CallService(service, L"AddVirtualSystemResources", out)))
             return {{}, hvc::Leave::closed};
           // An outcome that cannot be read is no success.
           hvc::VariantHolder result;
           if (FAILED(hvc::GetProperty(out.Get(), L"ReturnValue", result)))
             return {};
           const unsigned short returnValue = hvc::Uint16Of(result.Get());
           if (returnValue == 0) {
             std::printf("\n klklkl;klklklklkl;kl;kkklk ");
             return {hvc::FirstObject(hvc::wql::AssociatorsOf(searchPath, hvc::wql::kResultSyntheticSettings))};
           }
           // A started job is waited for, but its outcome cannot be told from a failure by the caller.
           if (returnValue == kJobStarted) {
             GetJobStatus(out.Get(), 0);
             return {};
           }
           hvc::LogMsg("Adding resources failed");
           return {{}, hvc::Leave::closed};
         })
      .Detach();
}
