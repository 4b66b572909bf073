// The library's enumerations as vectors of records, names resolved through them, and the records
// as tables or JSON.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "console.h"
#include "hypervconfig.h"

namespace hvcfg {

// One HypervConfig behind the console diversion. Every member returns the library's result.
class Library {
 public:
  explicit Library(Console& console) : console_(console) {}

  int Machines(std::vector<vMachines>& records);
  int Switches(std::vector<vNetwork>& records);
  int Ports(std::vector<vExtPort>& records);
  // Every machine's identity and state, without the adapter and switch walk of Machines.
  int Identities(std::vector<vAssocAdapter>& records);
  // The adapters of the machine whose Name is `name`, into `record` (its AdapterCount, Adapters).
  int MachineAdapters(const std::string& name, vMachines& record);
  int Call(const std::function<int(HypervConfig&)>& operation) {
    return console_.Library([&] { return operation(config_); });
  }

 private:
  using Enumeration = std::function<int(HypervConfig&, void*, unsigned long*)>;
  template <class Record>
  int List(const wchar_t* countQuery, const Enumeration& operation, std::vector<Record>& records);

  Console& console_;
  HypervConfig config_;
};

// The one record that `given` names: its Name in any case, with or without braces (a GUID), or
// else its display name exactly. Null when none or several match; `error` then says which and
// what to do.
template <class Record>
const Record* Resolve(const std::vector<Record>& records, std::string_view given, std::string_view kind,
                      std::string_view listCommand, std::string& error);

// The connected switch's display name for an adapter's Connection (a switch's Name), looked up
// in the machine's own switch list, then in `switches`; the Connection itself when neither has it.
std::string ConnectionName(const vMachines& vm, const vAdapter& adapter, const std::vector<vNetwork>& switches);

// A machine whose record is full may have more adapters than it lists: a warning for each such
// machine that the host says has more, on standard error.
void WarnOfFullRecords(Console& console, const std::vector<vMachines>& vms);

// Tables. `narrow` cuts long cells and leaves out the identifiers, for the demo's 100 columns.
std::string MachinesTable(const std::vector<vMachines>& vms, bool narrow = false);
std::string AdaptersTable(const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches);
std::string SwitchesTable(const std::vector<vNetwork>& switches, bool narrow = false);
std::string PortsTable(const std::vector<vExtPort>& ports);

// The records' fields as the public header names them.
nlohmann::ordered_json MachineJson(const vMachines& vm);
nlohmann::ordered_json AdapterJson(const vAdapter& adapter);
nlohmann::ordered_json SwitchJson(const vNetwork& sw);
nlohmann::ordered_json PortJson(const vExtPort& port);

// One array element a line, so that a line-oriented reader can take one record at a time.
std::string JsonLines(const std::vector<nlohmann::ordered_json>& elements);
template <typename Record, typename ToJson>
std::string JsonLines(const std::vector<Record>& records, ToJson toJson) {
  std::vector<nlohmann::ordered_json> elements;
  elements.reserve(records.size());
  for (const Record& record : records)
    elements.push_back(toJson(record));
  return JsonLines(elements);
}

}  // namespace hvcfg
