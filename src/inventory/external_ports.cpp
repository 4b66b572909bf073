// The host's external Ethernet ports, the physical adapters a switch can be bound to.
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

int HypervConfig::GetExternalPorts(void* buffer, unsigned long* size) {
  return hvc::EnumeratingFrame([this] { return OpenWMIReferences(); },
                               [this](int* count) { return GetAllExtPorts(count); }, g_extPortList, buffer, size);
}

int HypervConfig::GetAllExtPorts(int* count) {
  std::free(g_extPortList);
  g_extPortList = nullptr;
  int listed = 0;

  hvc::ComPtr<IEnumWbemClassObject> ports;
  const HRESULT hr = hvc::ExecQuery(hvc::wql::kExternalPorts, hvc::kForwardOnly, ports);
  if (FAILED(hr)) {
    std::cout << "Query for External Ports failed.";
    hvc::ReportHresult(" Error code = 0x", hr);
    return 1;
  }

  hvc::ComPtr<IWbemClassObject> port;
  ULONG returned = 0;
  while (hvc::NextObject(ports.Get(), port, returned), returned != 0 && port) {
    // The 64-bit MTU arrives as decimal text; five characters decide whether the port is listed.
    char mtu[6] = {};
    hvc::GetText(port.Get(), L"ActiveMaximumTransmissionUnit", mtu, sizeof mtu);
    if (std::atoi(mtu) == 0)
      continue;

    vExtPort* grown = hvc::GrowList(g_extPortList, listed);
    if (grown == nullptr)
      return 0;  // the frame then reports no records
    vExtPort& record = *grown;

    hvc::GetText(port.Get(), L"DeviceID", record.DeviceID, sizeof record.DeviceID);
    hvc::GetText(port.Get(), L"ElementName", record.ElementName, sizeof record.ElementName);
    record.HealthState = hvc::GetUint16(port.Get(), L"HealthState");
    ++listed;
  }
  *count = listed;
  return 0;
}
