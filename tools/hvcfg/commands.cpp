#include "commands.h"

#include <cctype>
#include <cstdio>

#include "format.h"

namespace hvcfg {

namespace {

// Reports a failed library operation; its log lines are already on standard error.
int Failed(const Context& c, const char* operation) {
  std::fprintf(stderr, "hvcfg: %s failed%s\n", operation,
               c.verbose ? "" : " (--verbose shows what the library printed)");
  return 1;
}

int Refuse(const std::string& error) {
  std::fprintf(stderr, "hvcfg: %s\n", error.c_str());
  return 1;
}

// A writable copy of a text for the library's char* parameters.
std::vector<char> Writable(const std::string& text) {
  return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

// The adapter switches' display names are needed only for connections that the machine's own
// switch list does not name (it lists none while the machine is off).
std::vector<vNetwork> SwitchesToName(Context& c, const std::vector<vMachines>& vms) {
  std::vector<vNetwork> switches;
  for (const vMachines& vm : vms)
    for (int a = 0; a < vm.AdapterCount && a < 24; ++a)
      if (ConnectionName(vm, vm.Adapters[a], {}) == Field(vm.Adapters[a].Connection)) {
        c.library.Switches(switches);
        return switches;
      }
  return switches;
}

const vAdapter* FindAdapter(const vMachines& vm, const std::string& mac) {
  for (int a = 0; a < vm.AdapterCount && a < 24; ++a)
    if (NormalMac(Field(vm.Adapters[a].Address)) == mac)
      return &vm.Adapters[a];
  return nullptr;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The records one plug or unplug works on.
struct Plug {
  std::string switchName, switchLabel, vmName, vmLabel, address;
};

int ResolvePlug(Context& c, const Invocation& inv, Plug& plug) {
  const std::string mac = NormalMac(inv.args[2]);
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  std::vector<vMachines> vms;
  if (c.library.Machines(vms) != 0)
    return Failed(c, "GetVirtualMachines");
  std::string error;
  const vNetwork* sw = Resolve(switches, inv.args[0], "switch", "switches", error);
  if (sw == nullptr)
    return Refuse(error);
  const vMachines* vm = Resolve(vms, inv.args[1], "VM", "vms", error);
  if (vm == nullptr)
    return Refuse(error);
  const vAdapter* adapter = FindAdapter(*vm, mac);
  if (adapter == nullptr) {
    std::string known;
    for (int a = 0; a < vm->AdapterCount && a < 24; ++a)
      known += (a == 0 ? "" : ", ") + Field(vm->Adapters[a].Address);
    return Refuse(Utf8(Field(vm->ElementName)) + " has no adapter with MAC " + mac +
                  (known.empty() ? " (it has no adapters)" : " (its adapters: " + known + ")"));
  }
  plug = {Field(sw->Name), Utf8(Field(sw->ElementName)), Field(vm->Name), Utf8(Field(vm->ElementName)),
          Field(adapter->Address)};
  return 0;
}

// The demo's view of the host: enough to say what a step changed.
struct Snapshot {
  std::vector<vMachines> vms;
  std::vector<vNetwork> switches;
};

int Take(Context& c, Snapshot& s) {
  if (c.library.Switches(s.switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  if (c.library.Machines(s.vms) != 0)
    return Failed(c, "GetVirtualMachines");
  return 0;
}

std::string Changes(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> changes;
  const auto findSwitch = [](const Snapshot& s, const vNetwork& sw) -> const vNetwork* {
    for (const vNetwork& other : s.switches)
      if (Field(other.Name) == Field(sw.Name))
        return &other;
    return nullptr;
  };
  for (const vNetwork& sw : after.switches)
    if (findSwitch(before, sw) == nullptr)
      changes.push_back(std::string(sw.SwitchType == 1   ? "external"
                                    : sw.SwitchType == 2 ? "internal"
                                                         : "private") +
                        " switch " + Quoted(Field(sw.ElementName)) + " added");
  for (const vNetwork& sw : before.switches)
    if (findSwitch(after, sw) == nullptr)
      changes.push_back("switch " + Quoted(Field(sw.ElementName)) + " removed");
  for (const vMachines& vm : after.vms) {
    const vMachines* old = nullptr;
    for (const vMachines& other : before.vms)
      if (Field(other.Name) == Field(vm.Name))
        old = &other;
    if (old == nullptr)
      continue;
    if (old->EnabledState != vm.EnabledState)
      changes.push_back(Field(vm.ElementName) + " " + VmStateWord(old->EnabledState) + " -> " +
                        VmStateWord(vm.EnabledState));
    for (int a = 0; a < vm.AdapterCount && a < 24; ++a)
      for (int o = 0; o < old->AdapterCount && o < 24; ++o)
        if (Field(old->Adapters[o].InstanceID) == Field(vm.Adapters[a].InstanceID) &&
            Field(old->Adapters[o].Connection) != Field(vm.Adapters[a].Connection))
          changes.push_back(Field(vm.ElementName) + "'s adapter " + Field(vm.Adapters[a].Address) + ": " +
                            ConnectionName(*old, old->Adapters[o], before.switches) + " -> " +
                            ConnectionName(vm, vm.Adapters[a], after.switches));
  }
  if (changes.empty())
    return "nothing";
  std::string line;
  for (std::size_t i = 0; i < changes.size(); ++i)
    line += (i == 0 ? "" : "; ") + changes[i];
  return line;
}

}  // namespace

std::string NormalMac(const std::string& text) {
  std::string mac;
  for (char ch : text) {
    if (ch == '-' || ch == ':')
      continue;
    if (!std::isxdigit(static_cast<unsigned char>(ch)))
      return "";
    mac += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  return mac.size() == 12 ? mac : "";
}

int ListMachines(Context& c, const Invocation&) {
  std::vector<vMachines> vms;
  if (c.library.Machines(vms) != 0)
    return Failed(c, "GetVirtualMachines");
  if (c.json) {
    std::vector<std::string> objects;
    for (const vMachines& vm : vms)
      objects.push_back(MachineJson(vm));
    PrintJsonArray(c.console.out(), objects);
  } else {
    PrintMachines(c.console.out(), vms, SwitchesToName(c, vms));
  }
  return 0;
}

int ListSwitches(Context& c, const Invocation&) {
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  if (c.json) {
    std::vector<std::string> objects;
    for (const vNetwork& sw : switches)
      objects.push_back(SwitchJson(sw));
    PrintJsonArray(c.console.out(), objects);
  } else {
    PrintSwitches(c.console.out(), switches);
  }
  return 0;
}

int ListPorts(Context& c, const Invocation&) {
  std::vector<vExtPort> ports;
  if (c.library.Ports(ports) != 0)
    return Failed(c, "GetExternalPorts");
  if (c.json) {
    std::vector<std::string> objects;
    for (const vExtPort& port : ports)
      objects.push_back(PortJson(port));
    PrintJsonArray(c.console.out(), objects);
  } else {
    PrintPorts(c.console.out(), ports);
  }
  return 0;
}

int ListAdapters(Context& c, const Invocation&) {
  std::vector<vAssocAdapter> adapters;
  if (c.library.Adapters(adapters) != 0)
    return Failed(c, "GetAdapters");
  if (c.json) {
    std::vector<std::string> objects;
    for (const vAssocAdapter& adapter : adapters)
      objects.push_back(AdapterJson(adapter));
    PrintJsonArray(c.console.out(), objects);
  } else {
    PrintAdapters(c.console.out(), adapters);
  }
  return 0;
}

int SetState(Context& c, const std::string& given, int state) {
  std::vector<vMachines> vms;
  if (c.library.Machines(vms) != 0)
    return Failed(c, "GetVirtualMachines");
  std::string error;
  const vMachines* vm = Resolve(vms, given, "VM", "vms", error);
  if (vm == nullptr)
    return Refuse(error);
  const std::string label = Utf8(Field(vm->ElementName));
  const unsigned before = vm->EnabledState;
  std::vector<char> name = Writable(Field(vm->Name));
  if (c.library.Call([&](HypervConfig& config) { return config.SetVMState(name.data(), state); }) != 0)
    return Failed(c, "SetVMState");
  std::string now = "requested " + RequestedStateWord(state);
  std::vector<vMachines> after;
  if (c.library.Machines(after) == 0)
    if (const vMachines* changed = Resolve(after, Field(vm->Name), "VM", "vms", error))
      now = VmStateWord(changed->EnabledState);
  std::fprintf(c.console.out(), "%s: %s -> %s\n", label.c_str(), VmStateWord(before).c_str(), now.c_str());
  return 0;
}

int CreateSwitch(Context& c, const Invocation& inv) {
  const std::string& display = inv.args[0];
  std::string device;
  if (inv.switchType == 1) {
    std::vector<vExtPort> ports;
    if (c.library.Ports(ports) != 0)
      return Failed(c, "GetExternalPorts");
    std::vector<const vExtPort*> matches;
    for (const vExtPort& port : ports)
      if (SameIgnoringCase(Field(port.DeviceID), inv.port) || Utf8(Field(port.ElementName)) == Utf8(inv.port))
        matches.push_back(&port);
    if (matches.size() != 1)
      return Refuse(matches.empty() ? "no external port has the DeviceID or display name " + Quoted(inv.port) +
                                          "; 'hvcfg ports' lists them"
                                    : Quoted(inv.port) + " names " + std::to_string(matches.size()) +
                                          " external ports; give one by its DeviceID");
    device = Field(matches.front()->DeviceID);
  }
  std::vector<char> port = Writable(device);
  std::vector<char> name = Writable(display);
  if (c.library.Call(
          [&](HypervConfig& config) { return config.CreateVSwitch(port.data(), name.data(), inv.switchType); }) != 0)
    return Failed(c, "CreateVSwitch");
  std::string type = inv.switchType == 1 ? "external" : inv.switchType == 2 ? "internal" : "private";
  std::fprintf(c.console.out(), "Created %s switch %s%s\n", type.c_str(), Quoted(display).c_str(),
               device.empty() ? "" : (" on " + device).c_str());
  return 0;
}

int DeleteSwitch(Context& c, const Invocation& inv) {
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  std::string error;
  const vNetwork* sw = Resolve(switches, inv.args[0], "switch", "switches", error);
  if (sw == nullptr)
    return Refuse(error);
  const std::string display = Field(sw->ElementName);
  const std::string guid = Field(sw->Name);
  // The library deletes by display name, so that name must pick out this switch alone.
  std::size_t sharing = 0;
  for (const vNetwork& other : switches)
    sharing += Field(other.ElementName) == display ? 1 : 0;
  if (sharing > 1)
    return Refuse("DeleteVSwitch takes a display name, and " + std::to_string(sharing) + " switches are named " +
                  Quoted(Utf8(display)) + "; it cannot tell them apart");
  std::vector<char> name = Writable(display);
  if (c.library.Call([&](HypervConfig& config) { return config.DeleteVSwitch(name.data()); }) != 0)
    return Failed(c, "DeleteVSwitch");
  std::fprintf(c.console.out(), "Deleted switch %s (%s)\n", Quoted(Utf8(display)).c_str(), guid.c_str());
  return 0;
}

int Connect(Context& c, const Invocation& inv) {
  Plug plug;
  if (const int refused = ResolvePlug(c, inv, plug); refused != 0)
    return refused;
  std::vector<char> sw = Writable(plug.switchName), vm = Writable(plug.vmName), mac = Writable(plug.address);
  if (c.library.Call(
          [&](HypervConfig& config) { return config.AddVirtNetToVirtMachine(sw.data(), vm.data(), mac.data()); }) != 0)
    return Failed(c, "AddVirtNetToVirtMachine");
  std::fprintf(c.console.out(), "Connected %s's adapter %s to %s\n", plug.vmLabel.c_str(), plug.address.c_str(),
               Quoted(plug.switchLabel).c_str());
  return 0;
}

int Disconnect(Context& c, const Invocation& inv) {
  Plug plug;
  if (const int refused = ResolvePlug(c, inv, plug); refused != 0)
    return refused;
  std::vector<char> sw = Writable(plug.switchName), vm = Writable(plug.vmName), mac = Writable(plug.address);
  if (c.library.Call([&](HypervConfig& config) {
        return config.RemoveVirtNetFromVirtMachine(sw.data(), vm.data(), mac.data());
      }) != 0)
    return Failed(c, "RemoveVirtNetFromVirtMachine");
  std::fprintf(c.console.out(), "Disconnected %s's adapter %s from %s\n", plug.vmLabel.c_str(), plug.address.c_str(),
               Quoted(plug.switchLabel).c_str());
  return 0;
}

int Demo(Context& c, const Invocation&) {
  std::FILE* out = c.console.out();
  int step = 0;
  const auto heading = [&](const std::string& title) { std::fprintf(out, "\n== %d. %s\n\n", ++step, title.c_str()); };
  Snapshot start;
  Snapshot last;
  Snapshot now;
  // Runs one changing step, then shows the switches or the machine's adapters and what changed.
  const auto changed = [&](int result, const char* operation, const vMachines* show) {
    if (result != 0)
      return Failed(c, operation);
    if (Take(c, now) != 0)
      return 1;
    if (show == nullptr) {
      PrintSwitches(out, now.switches);
    } else {
      std::vector<vMachines> one;
      for (const vMachines& vm : now.vms)
        if (Field(vm.Name) == Field(show->Name))
          one.push_back(vm);
      PrintMachineAdapters(out, one, now.switches);
    }
    std::fprintf(out, "\nChanged: %s.\n", Changes(last, now).c_str());
    last = now;
    return 0;
  };

  std::fprintf(out,
               "hvcfg demo: the hypervconfig library at work on a simulated Hyper-V host.\n"
               "Each step calls the library and shows what it returns; nothing real is touched.\n");
  heading("The virtual machines and their adapters (GetVirtualMachines)");
  if (Take(c, start) != 0)
    return 1;
  last = start;
  PrintMachines(out, start.vms, start.switches);
  heading("The virtual switches (GetVirtualSwitches)");
  PrintSwitches(out, start.switches);

  // The first adapter that is not connected anywhere gets connected to the new switch.
  const vMachines* vm = nullptr;
  const vAdapter* adapter = nullptr;
  for (const vMachines& candidate : start.vms)
    for (int a = 0; a < candidate.AdapterCount && a < 24 && vm == nullptr; ++a)
      if (Field(candidate.Adapters[a].Connection).empty())
        vm = &candidate, adapter = &candidate.Adapters[a];
  if (vm == nullptr)
    return Refuse("the demo host has no unconnected adapter");
  const std::string vmName = Field(vm->Name), vmLabel = Field(vm->ElementName), mac = Field(adapter->Address);

  const std::string display = "Demo Switch";
  heading("Create an internal switch " + Quoted(display) + " (CreateVSwitch)");
  std::vector<char> none = Writable(""), name = Writable(display);
  if (changed(c.library.Call([&](HypervConfig& h) { return h.CreateVSwitch(none.data(), name.data(), 2); }),
              "CreateVSwitch", nullptr) != 0)
    return 1;
  std::string switchName;
  for (const vNetwork& sw : now.switches)
    if (Field(sw.ElementName) == display)
      switchName = Field(sw.Name);
  if (switchName.empty())
    return Refuse("the new switch is not listed");

  std::vector<char> swArg = Writable(switchName), vmArg = Writable(vmName), macArg = Writable(mac);
  heading("Connect " + vmLabel + "'s adapter " + mac + " to it (AddVirtNetToVirtMachine)");
  if (changed(c.library.Call([&](HypervConfig& h) {
        return h.AddVirtNetToVirtMachine(swArg.data(), vmArg.data(), macArg.data());
      }),
              "AddVirtNetToVirtMachine", vm) != 0)
    return 1;
  heading("Disconnect it again (RemoveVirtNetFromVirtMachine)");
  if (changed(c.library.Call([&](HypervConfig& h) {
        return h.RemoveVirtNetFromVirtMachine(swArg.data(), vmArg.data(), macArg.data());
      }),
              "RemoveVirtNetFromVirtMachine", vm) != 0)
    return 1;
  heading("Delete " + Quoted(display) + " (DeleteVSwitch)");
  if (changed(c.library.Call([&](HypervConfig& h) { return h.DeleteVSwitch(name.data()); }), "DeleteVSwitch",
              nullptr) != 0)
    return 1;
  const std::string overall = Changes(start, now);
  if (overall == "nothing")
    std::fprintf(out, "\nThe host is back as it was at step 1.\n");
  else
    std::fprintf(out, "\nLeft changed since step 1: %s.\n", overall.c_str());
  return 0;
}

}  // namespace hvcfg
