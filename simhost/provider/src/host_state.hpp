// Inside of SimulatedHost: the repository and the bookkeeping around it.
#pragma once

#include "simhost/cim/repository.hpp"
#include "simhost/provider/host_description.hpp"
#include "query_cache.hpp"

#include <cstdint>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace simhost::provider::detail {

namespace rv {
inline constexpr std::uint32_t ok = 0;
inline constexpr std::uint32_t job_started = 4096;
inline constexpr std::uint32_t failed = 32768;
inline constexpr std::uint32_t access_denied = 32769;
inline constexpr std::uint32_t not_supported = 32770;
inline constexpr std::uint32_t invalid_parameter = 32773;
inline constexpr std::uint32_t in_use = 32774;
inline constexpr std::uint32_t invalid_state = 32775;
inline constexpr std::uint32_t incorrect_type = 32776;
}  // namespace rv

namespace hr {
inline constexpr std::int32_t not_found = static_cast<std::int32_t>(0x80041002u);
inline constexpr std::int32_t invalid_parameter = static_cast<std::int32_t>(0x80041008u);
inline constexpr std::int32_t invalid_class = static_cast<std::int32_t>(0x80041010u);
inline constexpr std::int32_t invalid_operation = static_cast<std::int32_t>(0x80041016u);
inline constexpr std::int32_t invalid_method = static_cast<std::int32_t>(0x8004102Eu);
inline constexpr std::int32_t invalid_object_path = static_cast<std::int32_t>(0x8004103Au);
}  // namespace hr

// A VM state change that runs for a while: the VM shows `showing` and RequestedState `requested`
// until the change ends.
struct Transition {
  cim::InstanceId vm = 0;
  std::uint16_t showing = 0;
  std::uint16_t requested = 0;
};

// What a method will do once its parameters checked out: the out-parameters known up front and
// the effect, which reports 0 or the code of a failure found only when it runs.
struct Plan {
  std::uint32_t refusal = rv::ok;  // non-zero: refused before anything happened
  cim::PropertyList out;
  std::function<std::uint32_t()> apply;
  std::optional<Transition> transition;
};

// A job, a VM transition, or both, advancing on the host clock. Its time is the ticks it was
// observed (a tick stands for a second) or, with mode.milliseconds, the wall clock since it began.
struct Activity {
  cim::InstanceId job = 0;  // 0: no job (a guest shutdown)
  std::optional<Transition> transition;
  std::uint16_t vm_before = 0;  // the VM's EnabledState before the transition
  CompletionMode mode;
  std::function<std::uint32_t()> apply;
  std::uint64_t ticks = 0;
  std::chrono::steady_clock::time_point began;
  bool ended = false;
  std::uint64_t ended_at = 0;  // host time in milliseconds
};

class HostState {
 public:
  HostState(const HostDescription& description, std::uint64_t seed);

  cim::Repository repo;
  std::wstring computer_name;
  Behaviour behaviour;
  std::map<std::uint64_t, Activity> activities;                // by serial number
  std::unordered_map<cim::InstanceId, std::uint64_t> watched;  // job or VM -> its activity
  std::uint64_t next_activity = 1;
  QueryCache queries;
  std::map<std::wstring, bool, cim::ILess> shutdown_enabled;  // by VM Name
  std::uint64_t rng_state;
  cim::InstanceId host_id = 0, switch_service = 0, system_service = 0;

  // Model helpers (model.cpp).
  std::wstring new_guid();
  std::wstring new_mac();
  cim::InstanceId create(std::wstring_view cls, const cim::PropertyList& props);
  std::wstring path(cim::InstanceId id) const;
  cim::Value ref(cim::InstanceId id) const { return cim::Value::reference(path(id)); }
  cim::Value get(cim::InstanceId id, std::wstring_view name) const;
  std::wstring text(cim::InstanceId id, std::wstring_view name) const;
  std::uint64_t number(cim::InstanceId id, std::wstring_view name) const;
  void set(cim::InstanceId id, std::wstring_view name, const cim::Value& v);
  std::optional<cim::InstanceId> find_by(std::wstring_view cls, std::wstring_view prop, std::wstring_view value) const;
  bool is_a(cim::InstanceId id, std::wstring_view cls) const;
  std::vector<cim::InstanceId> associators(cim::InstanceId id, std::wstring_view assoc, std::wstring_view result_class,
                                           std::wstring_view role = {}) const;
  std::vector<cim::InstanceId> references(cim::InstanceId id, std::wstring_view assoc, std::wstring_view role) const;

  cim::InstanceId add_switch(const std::wstring& name, const std::wstring& element_name, std::uint32_t learnable,
                             const std::wstring& scope);
  cim::InstanceId add_switch_port(cim::InstanceId sw, const std::wstring& name, const std::wstring& element_name,
                                  const std::wstring& scope);
  cim::InstanceId add_switch_endpoint(cim::InstanceId eth_port);
  cim::InstanceId add_internal_port(const std::wstring& name, const std::wstring& element_name);
  cim::InstanceId connect(cim::InstanceId switch_port, cim::InstanceId endpoint);
  void disconnect_port(cim::InstanceId switch_port);
  void unbind(cim::InstanceId external_port);
  std::optional<cim::InstanceId> endpoint_of(cim::InstanceId eth_port) const;  // via the SAP link
  cim::InstanceId add_adapter(cim::InstanceId vm, const AdapterDescription& a, const std::wstring& connection);
  std::optional<cim::InstanceId> settings_of(cim::InstanceId vm) const;  // its VirtualSystemSettingData
  std::vector<cim::InstanceId> adapters_of(cim::InstanceId vm) const;
  std::optional<cim::InstanceId> vm_endpoint(cim::InstanceId adapter) const;
  void start_adapter(cim::InstanceId vm, cim::InstanceId adapter);
  void stop_adapter(cim::InstanceId adapter);
  void start_devices(cim::InstanceId vm);
  void stop_devices(cim::InstanceId vm);
  // The port a Connection value names, if it exists.
  std::optional<cim::InstanceId> connection_port(const cim::Value& connection) const;
  bool mac_in_use(std::wstring_view mac) const;

  HostDescription to_description() const;

  // Host clock (clock.cpp). `begin` starts an activity: the job (if any) is created already, the
  // transition shown now. `observe` moves the activities of these objects one tick each and tells
  // whether anything changed; with nothing running it costs one test.
  void begin(Activity activity);
  bool observe(std::span<const cim::InstanceId> ids);
  cim::InstanceId create_job(std::wstring_view method, std::uint16_t state, const CompletionMode& mode);

  // Methods (methods.cpp): the planner that a table keeps for {declaring class, method} checks the
  // in-parameters and returns the effect to run.
  Plan plan(cim::InstanceId target, const std::wstring& method, const cim::PropertyList& in);
  CompletionMode completion(std::wstring_view method) const;

 private:
  void build(const HostDescription& description);
  void build_pool();
};

std::wstring adapter_guid(std::wstring_view instance_id);
std::wstring lower(std::wstring s);

}  // namespace simhost::provider::detail
