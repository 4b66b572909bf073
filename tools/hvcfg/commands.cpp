#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "format.h"

namespace hvcfg {

namespace {

constexpr int kListRoom = 24;

// What a ReturnValue of the host's methods means (Msvm_ComputerSystem.RequestStateChange and
// the management services share these codes).
std::string ReturnValueWord(unsigned value) {
  static constexpr struct {
    unsigned value;
    const char* word;
  } kWords[] = {
      {4096, "a job was started"},     {32768, "failed"},
      {32769, "access denied"},        {32770, "not supported"},
      {32771, "status unknown"},       {32772, "timed out"},
      {32773, "invalid parameter"},    {32774, "system in use"},
      {32775, "invalid state"},        {32776, "incorrect data type"},
      {32777, "system not available"}, {32778, "out of memory"},
  };
  for (const auto& w : kWords)
    if (w.value == value)
      return w.word;
  return "an undocumented value";
}

std::string Lower(std::string text) {
  for (char& ch : text)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// "Off (3)" -> "off".
std::string StateName(unsigned value) {
  const std::string word = VmStateWord(value);
  const std::size_t space = word.find(" (");
  return space == std::string::npos ? word : Lower(word.substr(0, space));
}

// The reason for a failed state change, in the tool's words, from what the library logged.
std::string StateChangeReason(const std::vector<std::string>& logs, unsigned before, int requested) {
  for (const std::string& line : logs) {
    int value = 0, state = 0, code = 0;
    if (std::sscanf(line.c_str(), "Return value of RequestStateChange method %d", &value) == 1 && value != 4096) {
      // The log writes the 16-bit value as a signed number.
      const unsigned returned = static_cast<unsigned short>(value);
      std::string reason = std::to_string(returned) + ", " + ReturnValueWord(returned);
      if (returned == 32775)
        reason += StateName(before) == StateName(static_cast<unsigned>(requested))
                      ? ": the VM is already " + StateName(before)
                      : ": a VM that is " + StateName(before) + " cannot be given " + RequestedStateWord(requested);
      return reason;
    }
    if (std::sscanf(line.c_str(), "Job state-%d Error Code - %d", &state, &code) == 2 && state != 3 && state != 4 &&
        state != 7)
      return "the host's job ended in state " + std::to_string(state) +
             (state == 8    ? " (terminated)"
              : state == 10 ? " (exception)"
                            : "") +
             ", error code " + std::to_string(code) +
             (code != 0 ? ", " + ReturnValueWord(static_cast<unsigned short>(code)) : "");
    if (line.rfind("Not able to find 'enabled' VM", 0) == 0 || line.rfind("Not able to find enabled VM", 0) == 0)
      return "the guest cannot be asked to shut down: the VM is " + StateName(before) +
             ", and only a running guest with its shutdown service answers";
  }
  return "";
}

// Reports a failed library operation; its log lines are already on standard error.
int Failed(const Context& c, const char* operation, const std::string& reason = "") {
  c.console.Error(std::string("hvcfg: ") + operation + " failed" + (reason.empty() ? "" : ": " + reason) +
                  (c.verbose ? "" : " (--verbose shows what the library printed)"));
  return 1;
}

int Refuse(const Context& c, const std::string& error, int status = 1) {
  c.console.Error("hvcfg: " + error);
  return status;
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
    for (int a = 0; a < vm.AdapterCount && a < kListRoom; ++a)
      if (ConnectionName(vm, vm.Adapters[a], {}) == Field(vm.Adapters[a].Connection)) {
        c.library.Switches(switches);
        return switches;
      }
  return switches;
}

const vAdapter* FindAdapter(const vMachines& vm, const std::string& mac) {
  for (int a = 0; a < vm.AdapterCount && a < kListRoom; ++a)
    if (NormalMac(Field(vm.Adapters[a].Address)) == mac)
      return &vm.Adapters[a];
  return nullptr;
}

// The records one plug or unplug works on; `current` is the switch the adapter is on, if any.
struct Plug {
  std::string switchName, switchLabel, vmName, vmLabel, address, current, currentLabel;
};

// One machine and its adapters through the cheap operations: the full inventory walks every
// switch port for every machine, which takes minutes on a large host.
int ResolvePlug(Context& c, const Invocation& inv, Plug& plug) {
  const std::string mac = NormalMac(inv.args[2]);
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  std::vector<vAssocAdapter> vms;
  if (c.library.Identities(vms) != 0)
    return Failed(c, "GetAdapters");
  std::string error;
  const vNetwork* sw = Resolve(switches, inv.args[0], "switch", "switches", error);
  if (sw == nullptr)
    return Refuse(c, error);
  const vAssocAdapter* identity = Resolve(vms, inv.args[1], "VM", "vms", error);
  if (identity == nullptr)
    return Refuse(c, error);
  vMachines vm{};
  if (c.library.MachineAdapters(Field(identity->Name), vm) != 0)
    return Failed(c, "GetVirtualNetworkAdapters");
  const vAdapter* adapter = FindAdapter(vm, mac);
  if (adapter == nullptr) {
    std::string known;
    for (int a = 0; a < vm.AdapterCount && a < kListRoom; ++a)
      known += (a == 0 ? "" : ", ") + Field(vm.Adapters[a].Address);
    return Refuse(c, Printable(Field(identity->ElementName)) + " has no adapter with MAC " + mac +
                         (known.empty() ? " (it has no adapters)" : " (its adapters: " + known + ")"));
  }
  plug = {Field(sw->Name),
          Quoted(Field(sw->ElementName)),
          Field(identity->Name),
          Printable(Field(identity->ElementName)),
          Field(adapter->Address),
          Field(adapter->Connection),
          ""};
  if (!plug.current.empty()) {
    plug.currentLabel = plug.current;
    for (const vNetwork& other : switches)
      if (SameIgnoringCase(Field(other.Name), plug.current))
        plug.currentLabel = Quoted(Field(other.ElementName));
  }
  return 0;
}

int Unplug(Context& c, const std::string& switchName, const Plug& plug) {
  std::vector<char> sw = Writable(switchName), vm = Writable(plug.vmName), mac = Writable(plug.address);
  return c.library.Call(
      [&](HypervConfig& config) { return config.RemoveVirtNetFromVirtMachine(sw.data(), vm.data(), mac.data()); });
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
  // Bare digits, or six pairs with one separator between each pair, the same throughout.
  std::string digits = text;
  if (text.size() == 17) {
    const char separator = text[2];
    if (separator != '-' && separator != ':')
      return "";
    digits.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2) {
        if (text[i] != separator)
          return "";
      } else {
        digits += text[i];
      }
    }
  }
  if (digits.size() != 12)
    return "";
  for (char& ch : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(ch)))
      return "";
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  return digits;
}

std::string NewSwitchNameProblem(const std::string& name) {
  if (name.empty())
    return "a switch needs a name";
  if (name.size() > 127)
    return "the name is " + std::to_string(name.size()) + " bytes long; a switch record keeps 127";
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '\'')
      return "the library puts names into WQL queries unescaped, so a name with ' could not be found again "
             "(not even to delete the switch)";
    if (ch == '\\')
      return "the library puts names into WQL queries unescaped, and WQL refuses a backslash that escapes "
             "nothing, so creating a switch with \\ in its name fails halfway on a real host";
    if (c < 0x20 || c > 0x7E)
      return "the library's 8-bit text carries only printable ASCII faithfully; a name with other characters " +
             std::string("would be listed and looked up differently from how it was made, and could not be deleted");
  }
  return "";
}

int ListMachines(Context& c, const Invocation&) {
  std::vector<vMachines> vms;
  if (c.library.Machines(vms) != 0)
    return Failed(c, "GetVirtualMachines");
  WarnOfFullRecords(c.console, vms);
  c.console.Write(c.json ? JsonLines(vms, MachineJson)
                         : MachinesTable(vms) + "\n" + AdaptersTable(vms, SwitchesToName(c, vms)));
  return 0;
}

int ListSwitches(Context& c, const Invocation&) {
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  c.console.Write(c.json ? JsonLines(switches, SwitchJson) : SwitchesTable(switches));
  return 0;
}

int ListPorts(Context& c, const Invocation&) {
  std::vector<vExtPort> ports;
  if (c.library.Ports(ports) != 0)
    return Failed(c, "GetExternalPorts");
  c.console.Write(c.json ? JsonLines(ports, PortJson) : PortsTable(ports));
  return 0;
}

int ListAdapters(Context& c, const Invocation&) {
  std::vector<vMachines> vms;
  if (c.library.Machines(vms) != 0)
    return Failed(c, "GetVirtualMachines");
  WarnOfFullRecords(c.console, vms);
  if (c.json) {
    std::vector<vAdapter> adapters;
    for (const vMachines& vm : vms)
      adapters.insert(adapters.end(), vm.Adapters, vm.Adapters + std::min<int>(vm.AdapterCount, kListRoom));
    c.console.Write(JsonLines(adapters, AdapterJson));
  } else {
    c.console.Write(AdaptersTable(vms, SwitchesToName(c, vms)));
  }
  return 0;
}

int SetState(Context& c, const std::string& given, int state) {
  std::vector<vAssocAdapter> vms;
  if (c.library.Identities(vms) != 0)
    return Failed(c, "GetAdapters");
  std::string error;
  const vAssocAdapter* vm = Resolve(vms, given, "VM", "vms", error);
  if (vm == nullptr)
    return Refuse(c, error);
  const std::string label = Printable(Field(vm->ElementName));
  const std::string guid = Field(vm->Name);
  const unsigned before = vm->EnabledState;
  std::vector<char> name = Writable(guid);
  if (c.library.Call([&](HypervConfig& config) { return config.SetVMState(name.data(), state); }) != 0)
    return Failed(c, "SetVMState", StateChangeReason(c.console.logs(), before, state));
  std::string now = "requested " + RequestedStateWord(state);
  std::vector<vAssocAdapter> after;
  if (c.library.Identities(after) == 0)
    if (const vAssocAdapter* changed = Resolve(after, guid, "VM", "vms", error))
      now = VmStateWord(changed->EnabledState);
  c.console.Write(label + ": " + VmStateWord(before) + " -> " + now + "\n");
  return 0;
}

int CreateSwitch(Context& c, const Invocation& inv) {
  const std::string& display = inv.args[0];
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  // WQL compares texts without regard to case, so the library could not tell such two apart.
  for (const vNetwork& sw : switches)
    if (SameIgnoringCase(Field(sw.ElementName), display))
      return Refuse(c,
                    "switch " + Quoted(Field(sw.ElementName)) + " (" + Field(sw.Name) +
                        ") exists already; the library finds switches by display name, so two of that name could "
                        "never be told apart or deleted",
                    kRefused);
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
      return Refuse(c, matches.empty() ? "no external port has the DeviceID or display name " + Quoted(inv.port) +
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
  const std::string type = inv.switchType == 1 ? "external" : inv.switchType == 2 ? "internal" : "private";
  c.console.Write("Created " + type + " switch " + Quoted(display) + (device.empty() ? "" : " on " + device) + "\n");
  return 0;
}

int DeleteSwitch(Context& c, const Invocation& inv) {
  std::vector<vNetwork> switches;
  if (c.library.Switches(switches) != 0)
    return Failed(c, "GetVirtualSwitches");
  std::string error;
  const vNetwork* sw = Resolve(switches, inv.args[0], "switch", "switches", error);
  if (sw == nullptr)
    return Refuse(c, error);
  const std::string display = Field(sw->ElementName);
  const std::string guid = Field(sw->Name);
  if (const std::string problem = NewSwitchNameProblem(display); !problem.empty())
    return Refuse(c, "DeleteVSwitch takes the display name " + Quoted(display) + ", which it cannot find: " + problem);
  // The library deletes by display name, so that name must pick out this switch alone.
  std::size_t sharing = 0;
  for (const vNetwork& other : switches)
    sharing += SameIgnoringCase(Field(other.ElementName), display) ? 1 : 0;
  if (sharing > 1)
    return Refuse(c, "DeleteVSwitch takes a display name, and " + std::to_string(sharing) + " switches are named " +
                         Quoted(display) + " (in some case); it cannot tell them apart");
  std::vector<char> name = Writable(display);
  if (c.library.Call([&](HypervConfig& config) { return config.DeleteVSwitch(name.data()); }) != 0)
    return Failed(c, "DeleteVSwitch");
  c.console.Write("Deleted switch " + Quoted(display) + " (" + guid + ")\n");
  return 0;
}

int Connect(Context& c, const Invocation& inv) {
  Plug plug;
  if (const int refused = ResolvePlug(c, inv, plug); refused != 0)
    return refused;
  const std::string adapter = plug.vmLabel + "'s adapter " + plug.address;
  const bool moving = !plug.current.empty();
  if (moving && SameIgnoringCase(plug.current, plug.switchName))
    return Refuse(c, adapter + " is connected to " + plug.switchLabel + " already");
  // The library would make a new port and leave the old one behind on its switch.
  if (moving && !inv.move)
    return Refuse(
        c, adapter + " is connected to " + plug.currentLabel + "; give --move to move it to " + plug.switchLabel);
  if (moving && Unplug(c, plug.current, plug) != 0)
    return Failed(c, "RemoveVirtNetFromVirtMachine", "the adapter stays connected to " + plug.currentLabel);
  std::vector<char> sw = Writable(plug.switchName), vm = Writable(plug.vmName), mac = Writable(plug.address);
  if (c.library.Call(
          [&](HypervConfig& config) { return config.AddVirtNetToVirtMachine(sw.data(), vm.data(), mac.data()); }) != 0)
    return Failed(
        c, "AddVirtNetToVirtMachine",
        moving ? "the adapter was disconnected from " + plug.currentLabel + " and is connected to nothing" : "");
  c.console.Write(moving ? "Moved " + adapter + " from " + plug.currentLabel + " to " + plug.switchLabel + "\n"
                         : "Connected " + adapter + " to " + plug.switchLabel + "\n");
  return 0;
}

int Disconnect(Context& c, const Invocation& inv) {
  Plug plug;
  if (const int refused = ResolvePlug(c, inv, plug); refused != 0)
    return refused;
  const std::string adapter = plug.vmLabel + "'s adapter " + plug.address;
  // The library disconnects the adapter from whatever switch it is on.
  if (plug.current.empty())
    return Refuse(c, adapter + " is not connected");
  if (!SameIgnoringCase(plug.current, plug.switchName))
    return Refuse(c, adapter + " is connected to " + plug.currentLabel + ", not to " + plug.switchLabel);
  if (Unplug(c, plug.switchName, plug) != 0)
    return Failed(c, "RemoveVirtNetFromVirtMachine");
  c.console.Write("Disconnected " + adapter + " from " + plug.switchLabel + "\n");
  return 0;
}

int Demo(Context& c, const Invocation&) {
  int step = 0;
  const auto heading = [&](const std::string& title) {
    c.console.Write("\n== " + std::to_string(++step) + ". " + title + "\n\n");
  };
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
      c.console.Write(SwitchesTable(now.switches, true));
    } else {
      std::vector<vMachines> one;
      for (const vMachines& vm : now.vms)
        if (Field(vm.Name) == Field(show->Name))
          one.push_back(vm);
      c.console.Write(AdaptersTable(one, now.switches));
    }
    c.console.Write("\nChanged: " + Changes(last, now) + ".\n");
    last = now;
    return 0;
  };

  c.console.Write(
      "hvcfg demo: the hypervconfig library at work on a simulated Hyper-V host.\n"
      "Each step calls the library and shows what it returns; nothing real is touched.\n");
  heading("The virtual machines and their adapters (GetVirtualMachines)");
  if (Take(c, start) != 0)
    return 1;
  last = start;
  c.console.Write(MachinesTable(start.vms, true) + "\n" + AdaptersTable(start.vms, start.switches));
  heading("The virtual switches (GetVirtualSwitches)");
  c.console.Write(SwitchesTable(start.switches, true));

  // The first adapter that is not connected anywhere gets connected to the new switch.
  const vMachines* vm = nullptr;
  const vAdapter* adapter = nullptr;
  for (const vMachines& candidate : start.vms)
    for (int a = 0; a < candidate.AdapterCount && a < 24 && vm == nullptr; ++a)
      if (Field(candidate.Adapters[a].Connection).empty())
        vm = &candidate, adapter = &candidate.Adapters[a];
  if (vm == nullptr)
    return Refuse(c, "the demo host has no unconnected adapter");
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
    return Refuse(c, "the new switch is not listed");

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
    c.console.Write("\nThe host is back as it was at step 1.\n");
  else
    c.console.Write("\nLeft changed since step 1: " + overall + ".\n");
  return 0;
}

}  // namespace hvcfg
