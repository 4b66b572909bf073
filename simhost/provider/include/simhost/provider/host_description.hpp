// A host as a host file describes it: the switches, ports, VMs and adapters the simulated host
// starts with, and how its methods complete and which calls fail on purpose.
#pragma once

#include "simhost/cim/expected.hpp"
#include "simhost/provider/host.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simhost::provider {

struct ExternalPortDescription {
  std::wstring device_id;     // "{GUID}"
  std::wstring element_name;  // also the port's Name
  std::uint64_t mtu = 1500;
  std::uint16_t health_state = 5;
  bool bound = false;  // bound to the switch protocol (has a SwitchLANEndpoint)
  bool operator==(const ExternalPortDescription&) const = default;
};

struct SwitchPortDescription {
  std::wstring name;
  std::wstring element_name;
  bool operator==(const SwitchPortDescription&) const = default;
};

struct SwitchDescription {
  std::wstring name;
  std::wstring element_name;
  std::wstring external;                     // deviceId of the external port connected to this switch, or empty
  bool internal = false;                     // the host has an internal port connected to this switch
  std::vector<SwitchPortDescription> ports;  // the ports the uplink (external/internal) does not use
  bool operator==(const SwitchDescription&) const = default;
};

struct AdapterDescription {
  std::wstring instance_id;  // the adapter GUID: InstanceID is "Microsoft:<VM Name>\<instance_id>"
  std::wstring element_name;
  std::wstring address;  // 12 upper-case hex digits; empty: a dynamic MAC is assigned
  bool static_mac = false;
  std::vector<std::wstring> virtual_system_identifiers;  // empty: {"{<instance_id>}"}
  std::wstring port;                                     // Name of the switch port it is connected to
  std::wstring switch_name;                              // or a switch's ElementName: a new port on that switch
  bool operator==(const AdapterDescription&) const = default;
};

struct VmDescription {
  std::wstring name;  // upper-case GUID
  std::wstring element_name;
  std::uint16_t enabled_state = 3;
  std::uint16_t health_state = 5;
  bool shutdown_component = true;
  std::vector<AdapterDescription> adapters;
  bool operator==(const VmDescription&) const = default;
};

enum class Completion : std::uint8_t { immediate, job, refused };

// How a method completes. Time is the host clock: by default it ticks each time something observes
// the job or the VM it changes; `milliseconds` gives a wall-clock duration instead.
struct CompletionMode {
  Completion kind = Completion::immediate;
  std::uint32_t ticks = 2;                    // job, or a guest shutdown: observations that still see it running
  std::uint16_t end_state = 7;                // job: its JobState at the end; 2-6 and 11 stay, 7-10 end it
  std::uint16_t error_code = 32768;           // job ending in 8/9/10
  std::wstring error_description;             // job ending in 8/9/10
  std::uint32_t return_value = 32768;         // refused
  std::uint16_t running_state = 4;            // job: its JobState while it runs (2-6 or 11)
  std::optional<std::uint32_t> milliseconds;  // instead of ticks: how long it runs on the wall clock
  std::uint32_t time_before_removal = 300;    // seconds an ended job stays listed; a tick counts as one
  bool operator==(const CompletionMode&) const = default;
};

struct FaultRule {
  Call call = Call::exec_query;
  std::wstring match;  // case-insensitive substring of the subject; empty matches every subject
  std::optional<std::int32_t> hresult;
  std::optional<std::uint32_t> return_value;  // ExecMethod only
  std::optional<std::uint32_t> times = 1;     // nullopt: always
  std::uint32_t after = 0;                    // matches to let through first
  std::optional<std::uint32_t> last_error;    // with hresult: the thread's last error afterwards
  bool applied = false;                       // with returnValue: the method still takes effect
  std::optional<std::uint16_t> job_result;    // ExecMethod only: the call runs as a job that ends in this JobState
  bool operator==(const FaultRule&) const = default;
};

struct Behaviour {
  std::vector<std::pair<std::wstring, CompletionMode>> completion;  // by method name
  std::vector<FaultRule> faults;
  bool default_settings_first = true;  // order of the pool's SettingsDefineCapabilities
  ResultOrder result_order;            // order of every query's results
  bool operator==(const Behaviour&) const = default;
};

struct HostDescription {
  std::wstring computer_name;
  std::vector<ExternalPortDescription> external_ports;
  std::vector<SwitchDescription> switches;
  std::vector<VmDescription> vms;
  Behaviour behaviour;
  bool operator==(const HostDescription&) const = default;
};

template <class T>
using LoadResult = cim::Expected<T, std::string>;

// Parses and validates a host file (UTF-8 JSON). The error names the field:
// "vms[1].adapters[0].address: expected 12 hexadecimal digits".
LoadResult<HostDescription> parse_host_json(std::string_view json);
// Pretty-printed, fields in a fixed order; parse_host_json(to_json(s)) gives s back.
std::string to_json(const HostDescription& description);
// Checks references, duplicates and formats of a description built in code; nullopt when it is valid.
std::optional<std::string> validate(const HostDescription& description);
// Whether the v1 signature of the method (any class) has a `Job` out-parameter.
bool has_job_parameter(std::wstring_view method);

// A host with VMs in each state, an external and an internal switch and two physical NICs.
HostDescription default_host_description();

// "ExecQuery", "Next", ... as host files spell them.
std::wstring_view call_name(Call call) noexcept;
std::optional<Call> call_from_name(std::wstring_view name) noexcept;

}  // namespace simhost::provider
