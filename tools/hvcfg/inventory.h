// The library's enumerations as vectors of records, names resolved through them, and the records
// printed as tables or JSON.
#pragma once

#include <cstdio>
#include <functional>
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
  int Adapters(std::vector<vAssocAdapter>& records);
  int Call(const std::function<int(HypervConfig&)>& operation) {
    return console_.Library([&] { return operation(config_); });
  }

 private:
  using Enumeration = std::function<int(HypervConfig&, void*, unsigned long*)>;
  template <class Record>
  int List(const Enumeration& operation, std::vector<Record>& records);

  Console& console_;
  HypervConfig config_;
};

// The one record that `given` names: its Name in any case (a GUID), or else its display name
// exactly. Null when none or several match; `error` then says which and what to do.
template <class Record>
const Record* Resolve(const std::vector<Record>& records, std::string_view given, std::string_view kind,
                      std::string_view listCommand, std::string& error);

// The connected switch's display name for an adapter's Connection (a switch's Name), looked up
// in the machine's own switch list, then in `switches`; the Connection itself when neither has it.
std::string ConnectionName(const vMachines& vm, const vAdapter& adapter, const std::vector<vNetwork>& switches);

void PrintMachines(std::FILE* out, const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches);
void PrintMachineAdapters(std::FILE* out, const std::vector<vMachines>& vms, const std::vector<vNetwork>& switches);
void PrintSwitches(std::FILE* out, const std::vector<vNetwork>& switches);
void PrintPorts(std::FILE* out, const std::vector<vExtPort>& ports);
void PrintAdapters(std::FILE* out, const std::vector<vAssocAdapter>& adapters);

// Field names as the public header spells them.
std::string MachineJson(const vMachines& vm);
std::string SwitchJson(const vNetwork& sw);
std::string PortJson(const vExtPort& port);
std::string AdapterJson(const vAssocAdapter& adapter);

}  // namespace hvcfg
