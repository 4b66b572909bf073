#include "inventory.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "format.h"
#include "host_count.h"

namespace hvcfg {

namespace {

constexpr int kListRoom = 24;  // entries in each list of a vMachines record

std::string WithoutBraces(std::string_view given) {
  if (given.size() > 2 && given.front() == '{' && given.back() == '}')
    return std::string(given.substr(1, given.size() - 2));
  return std::string(given);
}

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

// The library writes one record per object and cannot be told the buffer's size, so the buffer
// has room for what the host holds now and some more, for objects added on a live host between
// the count and the enumeration.
template <class Record>
int Library::List(const wchar_t* countQuery, const Enumeration& operation, std::vector<Record>& records) {
  const std::optional<unsigned long> count = CountObjects(countQuery);
  if (!count) {
    console_.Error("hvcfg: the host did not say how many records to make room for");
    return 1;
  }
  const std::size_t capacity = *count + *count / 8 + 16;
  const std::unique_ptr<Record, decltype(&std::free)> buffer(
      static_cast<Record*>(std::calloc(capacity, sizeof(Record))), &std::free);
  if (buffer == nullptr)
    throw std::bad_alloc();
  unsigned long size = 0;
  const int result = console_.Library([&] { return operation(config_, buffer.get(), &size); });
  if (result == 0)
    records.assign(buffer.get(), buffer.get() + size / sizeof(Record));
  return result;
}

constexpr wchar_t kMachines[] = L"SELECT Name FROM Msvm_ComputerSystem where Caption='Virtual Machine'";

int Library::Machines(std::vector<vMachines>& records) {
  return List(
      kMachines, [](HypervConfig& c, void* b, unsigned long* s) { return c.GetVirtualMachines(b, s); }, records);
}

int Library::Switches(std::vector<vNetwork>& records) {
  return List(
      L"SELECT Name FROM Msvm_VirtualSwitch",
      [](HypervConfig& c, void* b, unsigned long* s) { return c.GetVirtualSwitches(b, s); }, records);
}

int Library::Ports(std::vector<vExtPort>& records) {
  return List(
      L"SELECT DeviceID FROM Msvm_ExternalEthernetPort",
      [](HypervConfig& c, void* b, unsigned long* s) { return c.GetExternalPorts(b, s); }, records);
}

int Library::Identities(std::vector<vAssocAdapter>& records) {
  return List(
      kMachines,
      [](HypervConfig& c, void* b, unsigned long* s) {
        char any[] = "";  // GetAdapters lists every machine whatever this says
        return c.GetAdapters(b, s, any);
      },
      records);
}

int Library::MachineAdapters(const std::string& name, vMachines& record) {
  std::vector<char> writable(name.c_str(), name.c_str() + name.size() + 1);
  return console_.Library([&] {
    if (config_.OpenWMINamespace() != 0)
      return 1;
    const int result = config_.GetVirtualNetworkAdapters(writable.data(), &record);
    config_.CloseWMINamespace();
    return result;
  });
}

template <class Record>
const Record* Resolve(const std::vector<Record>& records, std::string_view given, std::string_view kind,
                      std::string_view listCommand, std::string& error) {
  const std::string guid = WithoutBraces(given);
  for (const Record& record : records)
    if (SameIgnoringCase(Field(record.Name), guid))
      return &record;
  std::vector<const Record*> named;
  for (const Record& record : records)
    if (Utf8(Field(record.ElementName)) == Utf8(given))
      named.push_back(&record);
  if (named.size() == 1)
    return named.front();
  if (named.empty()) {
    error = "no " + std::string(kind) + " is named " + Quoted(given) + "; 'hvcfg " + std::string(listCommand) +
            "' lists them";
  } else {
    error = Quoted(given) + " names " + std::to_string(named.size()) + " " + std::string(kind) + "s (";
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
template const vAssocAdapter* Resolve(const std::vector<vAssocAdapter>&, std::string_view, std::string_view,
                                      std::string_view, std::string&);

std::string ConnectionName(const vMachines& vm, const vAdapter& adapter, const std::vector<vNetwork>& switches) {
  const std::string connection = Field(adapter.Connection);
  if (connection.empty())
    return "(not connected)";
  for (int s = 0; s < vm.SwitchCount && s < kListRoom; ++s)
    if (SameIgnoringCase(Field(vm.SwitchName[s]), connection))
      return Field(vm.SwitchElementName[s]);
  for (const vNetwork& sw : switches)
    if (SameIgnoringCase(Field(sw.Name), connection))
      return Field(sw.ElementName);
  return connection;
}

void WarnOfFullRecords(Console& console, const std::vector<vMachines>& vms) {
  for (const vMachines& vm : vms) {
    const std::string name = Field(vm.Name);
    if (vm.AdapterCount < kListRoom || name.find('\'') != std::string::npos)
      continue;
    const std::wstring query =
        L"SELECT InstanceID FROM Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:" + Wide(name) +
        L"%'";
    const std::optional<unsigned long> count = CountObjects(query.c_str());
    if (count && *count > static_cast<unsigned long>(kListRoom))
      console.Error("hvcfg: warning: " + Quoted(Field(vm.ElementName)) + " has " + std::to_string(*count) +
                    " adapters, and its record holds 24: only the first 24 and their switches are listed");
  }
}

std::string MachinesTable(const std::vector<vMachines>& vms, bool narrow) {
  Table table(narrow ? std::vector<std::string>{"VM", "STATE", "HEALTH", "ADAPTERS"}
                     : std::vector<std::string>{"VM", "STATE", "HEALTH", "ADAPTERS", "NAME"},
              narrow ? 30 : 0);
  for (const vMachines& vm : vms)
    table.Add({Field(vm.ElementName), VmStateWord(vm.EnabledState), HealthWord(vm.HealthState),
               std::to_string(vm.AdapterCount), Field(vm.Name)});
  return table.Text();
}

std::string AdaptersTable(const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches) {
  Table table({"VM", "ADAPTER", "MAC", "SWITCH"}, 30);
  for (const vMachines& vm : vms)
    for (int a = 0; a < vm.AdapterCount && a < kListRoom; ++a)
      table.Add({Field(vm.ElementName), Field(vm.Adapters[a].ElementName), Field(vm.Adapters[a].Address),
                 ConnectionName(vm, vm.Adapters[a], switches)});
  return table.Text();
}

std::string SwitchesTable(const std::vector<vNetwork>& switches, bool narrow) {
  // The port: the external NIC's name; an internal switch's port is the host's own, whose Name
  // is an identifier of no use to a reader. Last, so that a narrow terminal wraps only the tail.
  Table table(narrow ? std::vector<std::string>{"SWITCH", "TYPE", "HEALTH", "STATE", "PORT"}
                     : std::vector<std::string>{"SWITCH", "TYPE", "HEALTH", "STATE", "NAME", "PORT"},
              narrow ? 36 : 0);
  for (const vNetwork& sw : switches) {
    const std::string port = sw.SwitchType == 1 ? Field(sw.PortName) : sw.SwitchType == 2 ? "(the host)" : "";
    std::vector<std::string> cells{Field(sw.ElementName), SwitchTypeWord(sw.SwitchType), HealthWord(sw.HealthState),
                                   SwitchStateWord(sw.EnabledState)};
    if (!narrow)
      cells.push_back(Field(sw.Name));
    cells.push_back(port);
    table.Add(std::move(cells));
  }
  return table.Text();
}

std::string PortsTable(const std::vector<vExtPort>& ports) {
  Table table({"PORT", "HEALTH", "DEVICE ID"});
  for (const vExtPort& port : ports)
    table.Add({Field(port.ElementName), HealthWord(port.HealthState), Field(port.DeviceID)});
  return table.Text();
}

nlohmann::ordered_json AdapterJson(const vAdapter& adapter) {
  return {{"InstanceID", Utf8(Field(adapter.InstanceID))},
          {"ElementName", Utf8(Field(adapter.ElementName))},
          {"Address", Utf8(Field(adapter.Address))},
          {"Connection", Utf8(Field(adapter.Connection))}};
}

nlohmann::ordered_json MachineJson(const vMachines& vm) {
  nlohmann::ordered_json switchNames = nlohmann::ordered_json::array();
  nlohmann::ordered_json switchElementNames = nlohmann::ordered_json::array();
  for (int s = 0; s < vm.SwitchCount && s < kListRoom; ++s) {
    switchNames.push_back(Utf8(Field(vm.SwitchName[s])));
    switchElementNames.push_back(Utf8(Field(vm.SwitchElementName[s])));
  }
  nlohmann::ordered_json adapters = nlohmann::ordered_json::array();
  for (int a = 0; a < vm.AdapterCount && a < kListRoom; ++a)
    adapters.push_back(AdapterJson(vm.Adapters[a]));
  return {{"Name", Utf8(Field(vm.Name))},
          {"SwitchName", switchNames},
          {"SwitchElementName", switchElementNames},
          {"ElementName", Utf8(Field(vm.ElementName))},
          {"SwitchCount", vm.SwitchCount},
          {"HealthState", vm.HealthState},
          {"EnabledState", vm.EnabledState},
          {"AdapterCount", vm.AdapterCount},
          {"Adapters", adapters}};
}

nlohmann::ordered_json SwitchJson(const vNetwork& sw) {
  return {{"Name", Utf8(Field(sw.Name))},
          {"ElementName", Utf8(Field(sw.ElementName))},
          {"PortDeviceID", Utf8(Field(sw.PortDeviceID))},
          {"PortName", Utf8(Field(sw.PortName))},
          {"SwitchType", sw.SwitchType},
          {"HealthState", sw.HealthState},
          {"EnabledState", sw.EnabledState}};
}

nlohmann::ordered_json PortJson(const vExtPort& port) {
  return {{"ElementName", Utf8(Field(port.ElementName))},
          {"DeviceID", Utf8(Field(port.DeviceID))},
          {"HealthState", port.HealthState}};
}

std::string JsonLines(const std::vector<nlohmann::ordered_json>& elements) {
  if (elements.empty())
    return "[]\n";
  std::string text = "[\n";
  for (std::size_t i = 0; i < elements.size(); ++i)
    text += "  " + elements[i].dump() + (i + 1 < elements.size() ? ",\n" : "\n");
  return text + "]\n";
}

}  // namespace hvcfg
