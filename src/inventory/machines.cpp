// The host's virtual machines, each with the switches it is connected to and its adapters.
#include <cstdio>
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

constexpr int kListRoom = 24;  // entries in each nested list of a vMachines record
constexpr const char* kAdaptersLabel = "HypervConfig::GetVirtualNetworkAdapters";

}  // namespace

int HypervConfig::GetVirtualMachines(void* buffer, unsigned long* size) {
  return hvc::EnumeratingFrame([this] { return OpenWMIReferences(); },
                               [this](int* count) { return GetAllVMS(nullptr, count); }, g_vmList, buffer, size);
}

int HypervConfig::GetAllVMS(vMachines*, int* count) {
  // The switch walk runs while the machine enumeration is still open; the adapter lists after it.
  const int result =
      hvc::ListMachines(g_vmList, count, [this](int index, IWbemClassObject*) { GetVSwitchListForVM(index); });
  if (result != 0 || g_vmList == nullptr)
    return result;
  for (int i = 0; i < *count; ++i)
    GetVirtualNetworkAdapters(g_vmList[i].Name, &g_vmList[i]);
  return 0;
}

int HypervConfig::GetVirtualNetworkAdapters(char* vmName, vMachines* vm) {
  const std::string query = hvc::wql::AdaptersOfMachine(vmName);
  std::printf("%s %s\n", kAdaptersLabel, query.c_str());
  vm->AdapterCount = 0;

  hvc::ComPtr<IEnumWbemClassObject> adapters;
  if (hvc::ExecQuery(query, hvc::kImmediate, adapters) != 0) {
    hvc::LogMsg("Unable to fetch Msvm_SyntheticEthernetPortSettingData instance %d", static_cast<int>(GetLastError()));
    return 1;
  }

  std::memset(&vm->Adapters[0], 0, sizeof(vAdapter));
  hvc::ComPtr<IWbemClassObject> adapter;
  ULONG returned = 0;
  // Room for 24: further adapters are not listed.
  while (vm->AdapterCount < kListRoom && hvc::NextObject(adapters.Get(), adapter, returned) == 0 && adapter) {
    vAdapter& slot = vm->Adapters[vm->AdapterCount];
    char text[1024];
    hvc::GetText(adapter.Get(), L"InstanceID", text, sizeof text);
    std::printf("%s %s\n", kAdaptersLabel, text);
    hvc::CopyCut(slot.InstanceID, text);
    hvc::GetText(adapter.Get(), L"Address", text, sizeof text);
    std::printf("%s %s\n", kAdaptersLabel, text);
    hvc::CopyCut(slot.Address, text);
    hvc::GetText(adapter.Get(), L"ElementName", text, sizeof text);
    std::printf("%s %s\n", kAdaptersLabel, text);
    hvc::CopyCut(slot.ElementName, text);

    hvc::VariantHolder connection;
    if (SUCCEEDED(hvc::GetProperty(adapter.Get(), L"Connection", connection))) {
      hvc::FirstString(connection.Get(), text, sizeof text);
      std::printf("%s %s\n", kAdaptersLabel, text);
      if (text[0] != '\0')
        hvc::KeyValue(text, hvc::Key::last, slot.Connection, sizeof slot.Connection);
      ++vm->AdapterCount;
    }
    // Clears the next slot, or wipes this one when its adapter was not counted.
    if (vm->AdapterCount < kListRoom)
      std::memset(&vm->Adapters[vm->AdapterCount], 0, sizeof(vAdapter));
  }
  return 0;
}

int HypervConfig::GetVSwitchListForVM(int vmIndex) {
  hvc::ComPtr<IEnumWbemClassObject> machine;
  HRESULT hr = hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kMachineByNameUpper, g_vmList[vmIndex].Name),
                              hvc::kForwardOnly, machine);
  if (FAILED(hr)) {
    hvc::ReportVmQueryFailure(hr);
    return 1;
  }
  hvc::ComPtr<IEnumWbemClassObject> switches;
  hr = hvc::ExecQuery(hvc::wql::kVirtualSwitches, hvc::kForwardOnly, switches);
  if (FAILED(hr)) {
    hvc::ReportVmQueryFailure(hr);
    return 1;
  }

  // Endpoint paths carry the machine's name in lower case.
  char lowerName[128] = {};
  StrToLower(g_vmList[vmIndex].Name, lowerName);
  int matches = 0;
  for (;;) {
    hvc::ComPtr<IWbemClassObject> vswitch;
    ULONG returned = 0;
    if (hvc::NextObject(switches.Get(), vswitch, returned) == WBEM_S_FALSE || returned == 0 || !vswitch)
      break;
    char name[128] = {};
    char elementName[128] = {};
    char switchPath[1024];
    hvc::GetText(vswitch.Get(), L"Name", name, sizeof name);
    hvc::GetText(vswitch.Get(), L"ElementName", elementName, sizeof elementName);
    hvc::GetText(vswitch.Get(), L"__PATH", switchPath, sizeof switchPath);

    hvc::ComPtr<IEnumWbemClassObject> ports;
    hr = hvc::ExecQuery(hvc::wql::AssociatorsOf(switchPath, hvc::wql::kResultSwitchPort), hvc::kImmediate, ports);
    if (FAILED(hr)) {
      hvc::ReportVmQueryFailure(hr);
      return 1;
    }
    // A port enumerator that fails without ending is asked again, a few times at most.
    int retries = 3;
    for (;;) {
      hvc::ComPtr<IWbemClassObject> port;
      const HRESULT next = hvc::NextObject(ports.Get(), port, returned);
      if (next == WBEM_S_FALSE)
        break;
      if (returned == 0 || !port) {
        if (--retries < 0)
          break;
        continue;
      }
      char portPath[1024];
      hvc::GetText(port.Get(), L"__PATH", portPath, sizeof portPath);
      hvc::ComPtr<IEnumWbemClassObject> connected;
      hr = hvc::ExecQuery(hvc::wql::AssociatorsOf(portPath, hvc::wql::kAssocActiveConnection), hvc::kImmediate,
                          connected);
      if (FAILED(hr)) {
        hvc::ReportVmQueryFailure(hr);
        return 1;
      }
      hvc::ComPtr<IWbemClassObject> endpoint;
      while (hvc::NextObject(connected.Get(), endpoint, returned) == 0 && returned != 0 && endpoint) {
        char endpointPath[512];
        hvc::GetText(endpoint.Get(), L"__PATH", endpointPath, sizeof endpointPath);
        if (std::strstr(endpointPath, lowerName) == nullptr)
          continue;
        // Room for 24: further matches are not listed.
        if (matches < kListRoom) {
          vMachines& record = g_vmList[vmIndex];
          hvc::CopyCut(record.SwitchName[matches], name);
          hvc::CopyCut(record.SwitchElementName[matches], elementName);
          ++matches;
          record.SwitchCount = static_cast<unsigned short>(matches);
        }
      }
    }
  }
  return 0;
}
