// Connecting a machine's adapter to a switch through a new port, and disconnecting it again.
#include <cstdio>

#include "hypervconfig.h"
#include "adapters/shared.h"
#include "core/bstr.h"
#include "core/connection.h"
#include "core/frame.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

// One object looked up by a key, with the log line of each step (each given the key) and the
// console line that shows its path.
struct Lookup {
  const char* query;
  const char* noQuery;
  const char* noObject;
  const char* noPath;
  const char* shown;
};

constexpr Lookup kMachine{hvc::wql::kMachineByName, "Unable to locate VM with GUID %s",
                          "Unable to fetch VM instance for %s", "Unable to get path for VM with GUID %s",
                          "VMPath %s\n"};
constexpr Lookup kSwitch{hvc::wql::kSwitchByName, "Unable to locate VMswitch with GUID %s",
                         "Unable to get object for VSwitch with GUID %s", "Unable to get path for VSwitch with GUID %s",
                         "VMSwitch %s\n"};
// Any machine's adapter with this address will do: the machine is not part of the query.
constexpr Lookup kAdapter{hvc::wql::kAdapterByAddress, "Unable to locate VMNetworkAdapter with mac address %s",
                          "Unable to get object for VMNetworkAdapter with mac address %s",
                          "Unable to get path for VMNetworkAdapter with mac address %s", "VNetpath %s\n"};

// The first object whose key matches, and its path; false after the failing step's log line.
bool Find(const Lookup& lookup, char* key, hvc::ComPtr<IWbemClassObject>& object, hvc::VariantHolder& path) {
  HRESULT hr = 0;
  const hvc::Found found = hvc::FindFirst(hvc::wql::Quoted(lookup.query, key), object, hr);
  if (found != hvc::Found::object) {
    hvc::LogMsg(found == hvc::Found::noQuery ? lookup.noQuery : lookup.noObject, key);
    return false;
  }
  if (hvc::GetProperty(object.Get(), L"__PATH", path) != 0) {
    hvc::LogMsg(lookup.noPath, key);
    return false;
  }
  char text[1024];
  hvc::CopyCut(text, path.Get());
  std::printf(lookup.shown, text);
  return true;
}

}  // namespace

int HypervConfig::AddVirtNetToVirtMachine(char* switchName, char* vmName, char* mac) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [&] { return AttachVNTOVM(switchName, vmName, mac); });
}

int HypervConfig::RemoveVirtNetFromVirtMachine(char* switchName, char* vmName, char* mac) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [&] { return DetachVNFromVM(switchName, vmName, mac); });
}

int HypervConfig::AttachVNTOVM(char* switchName, char* vmName, char* mac) {
  return PlugUnplug(vmName, switchName, mac, 1);
}

int HypervConfig::DetachVNFromVM(char* switchName, char* vmName, char* mac) {
  return PlugUnplug(vmName, switchName, mac, 0);
}

// Nothing is undone when a later step fails: a port created for a failed connection stays on its
// switch, and an adapter disconnected before its port could be deleted stays disconnected.
int HypervConfig::PlugUnplug(char* vmName, char* switchName, char* mac, unsigned char plug) {
  // The connection is closed on every path, once the steps' objects are released.
  return hvc::EndWorker([&]() -> hvc::Ending<int> {
    const auto closing = [](int result) { return hvc::Ending<int>{result, hvc::Leave::closed}; };
    hvc::ComPtr<IWbemClassObject> object;
    hvc::VariantHolder vmPath;
    hvc::VariantHolder switchPath;
    hvc::VariantHolder adapterPath;
    if (!Find(kMachine, vmName, object, vmPath) || !Find(kSwitch, switchName, object, switchPath) ||
        !Find(kAdapter, mac, object, adapterPath))
      return closing(1);
    IWbemClassObject* adapter = object.Get();
    // A step's non-zero result is logged with the step's line and ends the steps.
    const auto failed = [](long hr, const char* format) {
      if (hr != 0)
        hvc::LogMsg(format, hvc::AsHex(hr));
      return hr != 0;
    };

    if (plug != 0) {
      char portName[512];
      if (failed(CreateVirtualSwitchPort(&switchPath.Get(), portName), "Unable to create switch port 0x%x\n"))
        return closing(1);
      const bool attached =
          !failed(SetVNetAdapterToSwitchPortConnection(portName, &adapterPath.Get(), adapter, &vmPath.Get()),
                  "Unable to attach switchport to vswitch 0x%x\n");
      return closing(attached ? 0 : 1);
    }

    // The port to remove is the one the adapter is connected to, on whichever switch it is.
    std::printf("DetachSwitchPortFromVirtualNetAdapter\n");
    hvc::ComPtr<IWbemClassObject> port;
    hvc::VariantHolder portPath;
    const bool detached =
        !failed(GetSwitchPortDetails(adapter, port.Put(), &portPath.Get()),
                "Unable to get details of switchport 0x%x\n") &&
        !failed(SetVNetAdapterToSwitchPortConnection(nullptr, &adapterPath.Get(), adapter, &vmPath.Get()),
                "Unable to detach switchport from vswitch 0x%x\n") &&
        !failed(DeleteVirtualSwitchPort(port.Get(), &portPath.Get()), "Unable to delete switchport 0x%x\n");
    return closing(detached ? 0 : 1);
  });
}
