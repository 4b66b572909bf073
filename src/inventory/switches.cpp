// The host's virtual switches, with the Ethernet port each is bound to.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "hypervconfig.h"
#include "core/bstr.h"
#include "core/frame.h"
#include "core/globals.h"
#include "inventory/lists.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

// The first object of an association query, or nothing (a failed query counts as nothing).
hvc::ComPtr<IWbemClassObject> FirstAssociated(const char* path, const char* clause) {
  return hvc::FirstObject(hvc::wql::AssociatorsOf(path, clause));
}

// Follows only the first object of each step: switch -> port -> LAN endpoint -> Ethernet port.
void WalkToEthernetPort(const char* switchPath, vNetwork& record) {
  char path[1024];
  hvc::ComPtr<IWbemClassObject> port = FirstAssociated(switchPath, hvc::wql::kResultSwitchPort);
  if (!port)
    return;
  hvc::GetText(port.Get(), L"__PATH", path, sizeof path);
  hvc::ComPtr<IWbemClassObject> endpoint = FirstAssociated(path, hvc::wql::kResultLanEndpoint);
  if (!endpoint)
    return;
  hvc::GetText(endpoint.Get(), L"__PATH", path, sizeof path);
  hvc::ComPtr<IWbemClassObject> ethernet = FirstAssociated(path, hvc::wql::kAssocGlobalSap);
  if (!ethernet) {
    record.SwitchType = 0;
    return;
  }
  hvc::GetText(ethernet.Get(), L"__PATH", path, sizeof path);
  if (std::strstr(path, "Msvm_ExternalEthernetPort") != nullptr)
    record.SwitchType = 1;
  else if (std::strstr(path, "Msvm_InternalEthernetPort") != nullptr)
    record.SwitchType = 2;
  else
    record.SwitchType = 0;
  hvc::VariantHolder value;
  hvc::GetText(ethernet.Get(), L"DeviceID", record.PortDeviceID, sizeof record.PortDeviceID);
  hvc::GetText(ethernet.Get(), L"Name", record.PortName, sizeof record.PortName);
}

}  // namespace

int HypervConfig::GetVirtualSwitches(void* buffer, unsigned long* size) {
  return hvc::EnumeratingFrame([this] { return OpenWMIReferences(); },
                               [this](int* count) { return GetAllVswitches(nullptr, count); }, g_switchList, buffer,
                               size);
}

int HypervConfig::GetAllVswitches(vNetwork*, int* count) {
  hvc::ComPtr<IEnumWbemClassObject> switches;
  const HRESULT hr = hvc::ExecQuery(hvc::wql::kVirtualSwitches, hvc::kForwardOnly, switches);
  if (FAILED(hr)) {
    hvc::ReportVmQueryFailure(hr);
    return -1;
  }

  int index = 0;
  hvc::ComPtr<IWbemClassObject> vswitch;
  ULONG returned = 0;
  while (hvc::NextObject(switches.Get(), vswitch, returned), returned != 0 && vswitch) {
    char path[1024];
    hvc::GetText(vswitch.Get(), L"__PATH", path, sizeof path);
    vNetwork* grown = hvc::GrowList(g_switchList, index);
    if (grown == nullptr)
      return 0;  // the frame then reports no records
    vNetwork& record = *grown;

    hvc::GetText(vswitch.Get(), L"Name", record.Name, sizeof record.Name);
    hvc::GetText(vswitch.Get(), L"ElementName", record.ElementName, sizeof record.ElementName);
    record.HealthState = hvc::GetUint16(vswitch.Get(), L"HealthState");
    record.EnabledState = hvc::GetUint16(vswitch.Get(), L"EnabledState");
    WalkToEthernetPort(path, record);
    ++index;
  }
  *count = index;
  return 0;
}
