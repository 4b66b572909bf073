#include "inventory.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "format.h"

namespace hvcfg {

// The library cannot say how many records it will write, and writes them all; room for this
// many is beyond what a Hyper-V host holds. calloc leaves untouched pages unallocated.
constexpr std::size_t kRecordCapacity = 4096;

template <class Record>
int Library::List(const Enumeration& operation, std::vector<Record>& records) {
  const std::unique_ptr<Record, decltype(&std::free)> buffer(
      static_cast<Record*>(std::calloc(kRecordCapacity, sizeof(Record))), &std::free);
  if (buffer == nullptr)
    throw std::bad_alloc();
  unsigned long size = 0;
  const int result = console_.Library([&] { return operation(config_, buffer.get(), &size); });
  if (result == 0)
    records.assign(buffer.get(), buffer.get() + size / sizeof(Record));
  return result;
}

int Library::Machines(std::vector<vMachines>& records) {
  return List([](HypervConfig& c, void* b, unsigned long* s) { return c.GetVirtualMachines(b, s); }, records);
}

int Library::Switches(std::vector<vNetwork>& records) {
  return List([](HypervConfig& c, void* b, unsigned long* s) { return c.GetVirtualSwitches(b, s); }, records);
}

int Library::Ports(std::vector<vExtPort>& records) {
  return List([](HypervConfig& c, void* b, unsigned long* s) { return c.GetExternalPorts(b, s); }, records);
}

int Library::Adapters(std::vector<vAssocAdapter>& records) {
  return List(
      [](HypervConfig& c, void* b, unsigned long* s) {
        char any[] = "";  // GetAdapters lists every machine whatever this says
        return c.GetAdapters(b, s, any);
      },
      records);
}

template <class Record>
const Record* Resolve(const std::vector<Record>& records, std::string_view given, std::string_view kind,
                      std::string_view listCommand, std::string& error) {
  for (const Record& record : records)
    if (SameIgnoringCase(Field(record.Name), given))
      return &record;
  std::vector<const Record*> named;
  for (const Record& record : records)
    if (Utf8(Field(record.ElementName)) == Utf8(given))
      named.push_back(&record);
  if (named.size() == 1)
    return named.front();
  const std::string quoted = "\"" + std::string(given) + "\"";
  if (named.empty()) {
    error = "no " + std::string(kind) + " is named " + quoted + "; 'hvcfg " + std::string(listCommand) + "' lists them";
  } else {
    error = quoted + " names " + std::to_string(named.size()) + " " + std::string(kind) + "s (";
    for (std::size_t i = 0; i < named.size(); ++i)
      error += (i == 0 ? "" : ", ") + Field(named[i]->Name);
    error += "); give one by its Name";
  }
  return nullptr;
}

template const vMachines* Resolve(const std::vector<vMachines>&, std::string_view, std::string_view, std::string_view,
                                  std::string&);
template const vNetwork* Resolve(const std::vector<vNetwork>&, std::string_view, std::string_view, std::string_view,
                                 std::string&);

std::string ConnectionName(const vMachines& vm, const vAdapter& adapter, const std::vector<vNetwork>& switches) {
  const std::string connection = Field(adapter.Connection);
  if (connection.empty())
    return "(not connected)";
  for (int s = 0; s < vm.SwitchCount && s < 24; ++s)
    if (SameIgnoringCase(Field(vm.SwitchName[s]), connection))
      return Field(vm.SwitchElementName[s]);
  for (const vNetwork& sw : switches)
    if (SameIgnoringCase(Field(sw.Name), connection))
      return Field(sw.ElementName);
  return connection;
}

void PrintMachines(std::FILE* out, const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches) {
  Table table({"VM", "STATE", "HEALTH", "ADAPTERS", "NAME"});
  for (const vMachines& vm : vms)
    table.Add({Field(vm.ElementName), VmStateWord(vm.EnabledState), HealthWord(vm.HealthState),
               std::to_string(vm.AdapterCount), Field(vm.Name)});
  table.Print(out);
  std::fprintf(out, "\n");
  PrintMachineAdapters(out, vms, switches);
}

void PrintMachineAdapters(std::FILE* out, const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches) {
  Table table({"VM", "ADAPTER", "MAC", "SWITCH"});
  for (const vMachines& vm : vms)
    for (int a = 0; a < vm.AdapterCount && a < 24; ++a)
      table.Add({Field(vm.ElementName), Field(vm.Adapters[a].ElementName), Field(vm.Adapters[a].Address),
                 ConnectionName(vm, vm.Adapters[a], switches)});
  table.Print(out);
}

void PrintSwitches(std::FILE* out, const std::vector<vNetwork>& switches) {
  // The port's name can be long: last, so that a narrow terminal wraps only the tail.
  Table table({"SWITCH", "TYPE", "HEALTH", "STATE", "NAME", "PORT"});
  for (const vNetwork& sw : switches)
    table.Add({Field(sw.ElementName), SwitchTypeWord(sw.SwitchType), HealthWord(sw.HealthState),
               SwitchStateWord(sw.EnabledState), Field(sw.Name), Field(sw.PortName)});
  table.Print(out);
}

void PrintPorts(std::FILE* out, const std::vector<vExtPort>& ports) {
  Table table({"PORT", "HEALTH", "DEVICE ID"});
  for (const vExtPort& port : ports)
    table.Add({Field(port.ElementName), HealthWord(port.HealthState), Field(port.DeviceID)});
  table.Print(out);
}

void PrintAdapters(std::FILE* out, const std::vector<vAssocAdapter>& adapters) {
  Table table({"VM", "STATE", "HEALTH", "NAME"});
  for (const vAssocAdapter& a : adapters)
    table.Add({Field(a.ElementName), VmStateWord(a.EnabledState), HealthWord(a.HealthState), Field(a.Name)});
  table.Print(out);
}

std::string MachineJson(const vMachines& vm) {
  std::vector<std::string> switches;
  for (int s = 0; s < vm.SwitchCount && s < 24; ++s)
    switches.push_back(
        JsonObject().Text("Name", Field(vm.SwitchName[s])).Text("ElementName", Field(vm.SwitchElementName[s])).str());
  std::vector<std::string> adapters;
  for (int a = 0; a < vm.AdapterCount && a < 24; ++a)
    adapters.push_back(JsonObject()
                           .Text("InstanceID", Field(vm.Adapters[a].InstanceID))
                           .Text("ElementName", Field(vm.Adapters[a].ElementName))
                           .Text("Address", Field(vm.Adapters[a].Address))
                           .Text("Connection", Field(vm.Adapters[a].Connection))
                           .str());
  return JsonObject()
      .Text("Name", Field(vm.Name))
      .Text("ElementName", Field(vm.ElementName))
      .Number("EnabledState", vm.EnabledState)
      .Number("HealthState", vm.HealthState)
      .Number("SwitchCount", vm.SwitchCount)
      .Raw("Switches", JsonInline(switches))
      .Number("AdapterCount", vm.AdapterCount)
      .Raw("Adapters", JsonInline(adapters))
      .str();
}

std::string SwitchJson(const vNetwork& sw) {
  return JsonObject()
      .Text("Name", Field(sw.Name))
      .Text("ElementName", Field(sw.ElementName))
      .Text("PortDeviceID", Field(sw.PortDeviceID))
      .Text("PortName", Field(sw.PortName))
      .Number("SwitchType", sw.SwitchType)
      .Number("HealthState", sw.HealthState)
      .Number("EnabledState", sw.EnabledState)
      .str();
}

std::string PortJson(const vExtPort& port) {
  return JsonObject()
      .Text("ElementName", Field(port.ElementName))
      .Text("DeviceID", Field(port.DeviceID))
      .Number("HealthState", port.HealthState)
      .str();
}

std::string AdapterJson(const vAssocAdapter& adapter) {
  return JsonObject()
      .Text("Name", Field(adapter.Name))
      .Text("ElementName", Field(adapter.ElementName))
      .Number("HealthState", adapter.HealthState)
      .Number("EnabledState", adapter.EnabledState)
      .str();
}

}  // namespace hvcfg
