// One record per virtual machine: its identity and state (see vAssocAdapter).
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/bstr.h"
#include "core/frame.h"
#include "core/globals.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

int HypervConfig::GetAdapters(void* buffer, unsigned long* size, char* name) {
  return hvc::EnumeratingFrame(
      [this] { return OpenWMIReferences(); }, [this, name](int* count) { return GetAssociatedAdapters(count, name); },
      g_adapterList, buffer, size);
}

int HypervConfig::GetAssociatedAdapters(int* count, char*) {
  g_adapterList = nullptr;
  int index = 0;

  hvc::ComPtr<IEnumWbemClassObject> machines;
  const HRESULT hr = hvc::ExecQuery(hvc::wql::kVirtualMachines, hvc::kForwardOnly, machines);
  if (FAILED(hr)) {
    std::cout << "Query for VMs list failed.";
    hvc::ReportHresult(" Error code = 0x", hr);
    hvc::LogMsg("Unable to fetch VM's info");
    return 1;
  }
  for (;;) {
    hvc::ComPtr<IWbemClassObject> machine;
    ULONG returned = 0;
    hvc::NextObject(machines.Get(), machine, returned);
    if (returned == 0) break;
    if (!machine) {
      hvc::LogMsg("Unable to fetch VM's info");
      return 1;
    }
    void* grown = std::realloc(g_adapterList, static_cast<std::size_t>(index + 1) * sizeof(vAssocAdapter));
    if (grown == nullptr) return 0;  // the frame then reports no records
    g_adapterList = static_cast<vAssocAdapter*>(grown);
    vAssocAdapter& record = g_adapterList[index];
    std::memset(&record, 0, sizeof record);

    hvc::VariantHolder value;
    hvc::GetProperty(machine.Get(), L"Name", value);
    hvc::CopyToField(record.Name, value.Get());
    hvc::GetProperty(machine.Get(), L"ElementName", value);
    hvc::CopyToField(record.ElementName, value.Get());
    record.HealthState = hvc::GetUint16(machine.Get(), L"HealthState");
    record.EnabledState = hvc::GetUint16(machine.Get(), L"EnabledState");
    ++index;
  }
  *count = index;
  return 0;
}
