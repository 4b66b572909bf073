// The provider's methods: parameter checks (refusals change nothing) and the effect each applies.
#include "host_state.hpp"

#include "simhost/cim/schema.hpp"
#include "simhost/cim/text.hpp"
#include "simhost/cimxml/cimxml.hpp"

#include <algorithm>
#include <memory>

namespace simhost::provider::detail {
namespace {

using cim::InstanceId;
using cim::Value;

const Value* param(const cim::PropertyList& in, std::wstring_view name) {
  for (const auto& [n, v] : in) {
    if (cim::iequals(n, name)) {
      return v.is_null() ? nullptr : &v;
    }
  }
  return nullptr;
}

std::wstring string_param(const cim::PropertyList& in, std::wstring_view name) {
  const auto* v = param(in, name);
  const auto* s = v && !v->is_array() ? v->as_string() : nullptr;
  return s ? *s : std::wstring();
}

std::vector<std::wstring> string_array(const Value* v) {
  std::vector<std::wstring> out;
  if (v && v->is_array() && !v->is_null()) {
    for (const auto& item : v->items()) {
      if (const auto* s = std::get_if<std::wstring>(&item)) {
        out.push_back(*s);
      }
    }
  }
  return out;
}

Plan refuse(std::uint32_t code) {
  Plan p;
  p.refusal = code;
  return p;
}

bool valid_mac(std::wstring_view s) {
  return s.size() == 12 && std::all_of(s.begin(), s.end(), [](wchar_t c) {
           return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
         });
}

bool runs(std::uint64_t state) {
  return state == 2 || state == 32768;
}

// Shared steps of the planners.

Value out_path(const HostState& s, std::wstring_view cls, std::vector<cim::KeyBinding> keys) {
  return Value::reference(cim::make_path(s.repo.server(), s.repo.ns(), std::wstring(cls), std::move(keys)).str());
}

// A reference parameter that names an existing instance of `cls`.
std::optional<InstanceId> ref_param(const HostState& s, const cim::PropertyList& in, std::wstring_view name,
                                    std::wstring_view cls) {
  const auto* v = param(in, name);
  const auto* text = v && !v->is_array() ? v->as_string() : nullptr;
  if (!text) {
    return std::nullopt;
  }
  const auto id = s.repo.find(*text);
  return id && s.is_a(*id, cls) ? id : std::nullopt;
}

bool port_name_taken(const HostState& s, std::wstring_view name) {
  return s.find_by(L"Msvm_SwitchPort", L"Name", name).has_value();
}

bool is_vm(const HostState& s, InstanceId id) {
  return s.is_a(id, L"Msvm_ComputerSystem") && id != s.host_id && !s.is_a(id, L"Msvm_VirtualSwitch");
}

bool off(const HostState& s, InstanceId vm) {
  return s.number(vm, L"EnabledState") == 3;
}

bool connected(const HostState& s, InstanceId port) {
  return !s.references(port, L"Msvm_ActiveConnection", L"Antecedent").empty();
}

bool endpoint_connected(const HostState& s, InstanceId ep) {
  return !s.references(ep, L"Msvm_ActiveConnection", L"Dependent").empty();
}

bool is_bound(const HostState& s, InstanceId eth) {
  return s.get(eth, L"IsBound").as_bool().value_or(false);
}

bool internal_port_taken(const HostState& s, const std::wstring& name) {
  return s.find_by(L"Msvm_InternalEthernetPort", L"Name", name) ||
         s.find_by(L"Msvm_InternalEthernetPort", L"DeviceID", L"Microsoft:" + name);
}

// A plan whose only precondition is that the object named by `name` (of `cls`) still exists
// when it runs.
template <class Effect>
Plan on_existing(HostState& s, const cim::PropertyList& in, std::wstring_view name, std::wstring_view cls,
                 Effect effect) {
  const auto id = ref_param(s, in, name, cls);
  if (!id) {
    return refuse(rv::invalid_parameter);
  }
  Plan p;
  p.apply = [&s, id = *id, effect] {
    if (!s.repo.get(id)) {
      return rv::invalid_parameter;
    }
    effect(id);
    return rv::ok;
  };
  return p;
}

// Msvm_VirtualSwitchManagementService

Plan create_switch(HostState& s, InstanceId, const cim::PropertyList& in) {
  auto name = string_param(in, L"Name");
  if (name.empty()) {
    return refuse(rv::invalid_parameter);
  }
  if (s.find_by(L"Msvm_VirtualSwitch", L"Name", name)) {
    return refuse(rv::invalid_parameter);
  }
  auto friendly = string_param(in, L"FriendlyName");
  const auto* learn = param(in, L"NumLearnableAddresses");
  const auto learnable = static_cast<std::uint32_t>(learn ? learn->as_uint().value_or(1024) : 1024);
  auto scope = string_param(in, L"ScopeOfResidence");
  Plan p;
  p.out = {{L"CreatedVirtualSwitch",
            out_path(s, L"Msvm_VirtualSwitch",
                     {{L"CreationClassName", L"Msvm_VirtualSwitch", true}, {L"Name", name, true}})}};
  p.apply = [&s, name, friendly, learnable, scope] {
    if (s.find_by(L"Msvm_VirtualSwitch", L"Name", name)) {
      return rv::invalid_parameter;
    }
    s.add_switch(name, friendly.empty() ? name : friendly, learnable, scope);
    return rv::ok;
  };
  return p;
}

Plan delete_switch(HostState& s, InstanceId, const cim::PropertyList& in) {
  return on_existing(s, in, L"VirtualSwitch", L"Msvm_VirtualSwitch", [&s](InstanceId id) {
    for (auto port : s.associators(id, L"Msvm_HostedAccessPoint", L"Msvm_SwitchPort", L"Antecedent")) {
      for (auto ep : s.associators(port, L"Msvm_ActiveConnection", L"Msvm_SwitchLANEndpoint", L"Antecedent")) {
        for (auto eth : s.associators(ep, L"Msvm_GlobalEthernetPortSAPImplementation", L"Msvm_ExternalEthernetPort")) {
          s.unbind(eth);
        }
      }
      s.repo.remove(port, cim::Cascade::associations);
    }
    s.repo.remove(id, cim::Cascade::associations);
  });
}

Plan create_switch_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  const auto sw = ref_param(s, in, L"VirtualSwitch", L"Msvm_VirtualSwitch");
  auto name = string_param(in, L"Name");
  if (!sw || name.empty() || port_name_taken(s, name)) {
    return refuse(rv::invalid_parameter);
  }
  auto friendly = string_param(in, L"FriendlyName");
  auto scope = string_param(in, L"ScopeOfResidence");
  Plan p;
  p.out = {{L"CreatedSwitchPort", out_path(s, L"Msvm_SwitchPort",
                                           {{L"CreationClassName", L"Msvm_SwitchPort", true},
                                            {L"Name", name, true},
                                            {L"SystemCreationClassName", L"Msvm_VirtualSwitch", true},
                                            {L"SystemName", s.text(*sw, L"Name"), true}})}};
  p.apply = [&s, id = *sw, name, friendly, scope] {
    if (!s.repo.get(id) || port_name_taken(s, name)) {
      return rv::invalid_parameter;
    }
    s.add_switch_port(id, name, friendly.empty() ? name : friendly, scope);
    return rv::ok;
  };
  return p;
}

Plan delete_switch_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  const auto port = ref_param(s, in, L"SwitchPort", L"Msvm_SwitchPort");
  if (!port) {
    return refuse(rv::invalid_parameter);
  }
  Plan p;
  // Adapter settings whose Connection names the port keep that text, as on a real host.
  p.apply = [&s, id = *port] {
    return s.repo.remove(id, cim::Cascade::associations).empty() ? rv::invalid_parameter : rv::ok;
  };
  return p;
}

Plan connect_switch_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  const auto port = ref_param(s, in, L"SwitchPort", L"Msvm_SwitchPort");
  const auto ep = ref_param(s, in, L"LANEndpoint", L"CIM_LANEndpoint");
  if (!port || !ep) {
    return refuse(rv::invalid_parameter);
  }
  if (connected(s, *port) || endpoint_connected(s, *ep)) {
    return refuse(rv::in_use);
  }
  Plan p;
  p.out = {{L"ActiveConnection", out_path(s, L"Msvm_ActiveConnection",
                                          {{L"Antecedent", s.path(*port), true}, {L"Dependent", s.path(*ep), true}})}};
  p.apply = [&s, port = *port, ep = *ep] {
    if (!s.repo.get(port) || !s.repo.get(ep)) {
      return rv::invalid_parameter;
    }
    if (connected(s, port) || endpoint_connected(s, ep)) {
      return rv::in_use;
    }
    s.connect(port, ep);
    return rv::ok;
  };
  return p;
}

Plan disconnect_switch_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  return on_existing(s, in, L"SwitchPort", L"Msvm_SwitchPort", [&s](InstanceId id) { s.disconnect_port(id); });
}

Plan set_binding(HostState& s, const cim::PropertyList& in, bool bind) {
  const auto eth = ref_param(s, in, L"ExternalEthernetPort", L"Msvm_ExternalEthernetPort");
  if (!eth) {
    return refuse(rv::invalid_parameter);
  }
  if (is_bound(s, *eth) == bind) {
    return refuse(rv::invalid_state);
  }
  Plan p;
  p.apply = [&s, id = *eth, bind] {
    if (!s.repo.get(id)) {
      return rv::invalid_parameter;
    }
    if (is_bound(s, id) == bind) {
      return rv::invalid_state;
    }
    if (bind) {
      s.add_switch_endpoint(id);
      s.set(id, L"IsBound", Value::boolean(true));
    } else {
      s.unbind(id);
    }
    return rv::ok;
  };
  return p;
}

Plan create_internal_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  auto name = string_param(in, L"Name");
  if (name.empty() || internal_port_taken(s, name)) {
    return refuse(rv::invalid_parameter);
  }
  auto friendly = string_param(in, L"FriendlyName");
  Plan p;
  p.out = {{L"CreatedInternalEthernetPort", out_path(s, L"Msvm_InternalEthernetPort",
                                                     {{L"CreationClassName", L"Msvm_InternalEthernetPort", true},
                                                      {L"DeviceID", L"Microsoft:" + name, true},
                                                      {L"SystemCreationClassName", L"Msvm_ComputerSystem", true},
                                                      {L"SystemName", s.computer_name, true}})}};
  p.apply = [&s, name, friendly] {
    if (internal_port_taken(s, name)) {
      return rv::invalid_parameter;
    }
    s.add_internal_port(name, friendly.empty() ? name : friendly);
    return rv::ok;
  };
  return p;
}

Plan delete_internal_port(HostState& s, InstanceId, const cim::PropertyList& in) {
  return on_existing(s, in, L"InternalEthernetPort", L"Msvm_InternalEthernetPort", [&s](InstanceId id) {
    if (const auto ep = s.endpoint_of(id)) {
      s.repo.remove(*ep, cim::Cascade::associations);
    }
    s.repo.remove(id, cim::Cascade::associations);
  });
}

// Msvm_VirtualSystemManagementService

// One adapter's settings as AddVirtualSystemResources or ModifyVirtualSystemResources received them.
struct Change {
  InstanceId adapter = 0;    // Modify
  std::wstring instance_id;  // Add
  cim::PropertyList props;
  std::optional<Value> connection;
};

// The adapter a Modify names by InstanceID, into `c`; a refusal when the VM has none of that ID.
std::uint32_t read_instance_id(const HostState& s, const Value& id_value, const std::vector<InstanceId>& adapters,
                               Change& c) {
  const auto* id = id_value.as_string();
  const auto it = std::find_if(adapters.begin(), adapters.end(),
                               [&](InstanceId a) { return id && cim::iequals(s.text(a, L"InstanceID"), *id); });
  if (it == adapters.end()) {
    return rv::invalid_parameter;
  }
  c.adapter = *it;
  return rv::ok;
}

// A Connection must name an existing port, and one that a running VM's other adapter holds is in
// use.
std::uint32_t check_connection(const HostState& s, const Value& connection, bool running, const Change& c) {
  const auto first = string_array(&connection);
  if (first.empty() || first.front().empty()) {
    return rv::ok;
  }
  const auto port = s.connection_port(connection);
  if (!port) {
    return rv::invalid_parameter;
  }
  const auto links = s.references(*port, L"Msvm_ActiveConnection", L"Antecedent");
  const auto own = c.adapter ? s.vm_endpoint(c.adapter) : std::nullopt;
  if (running && !links.empty() &&
      !(own && s.associators(*port, L"Msvm_ActiveConnection", L"CIM_LANEndpoint").front() == *own)) {
    return rv::in_use;
  }
  return rv::ok;
}

// Reads one embedded instance of ResourceSettingData into `c`; a refusal code when it is not
// acceptable.
std::uint32_t read_change(const HostState& s, const cim::Scalar& item, bool add, bool running,
                          const std::vector<InstanceId>& adapters, Change& c) {
  const auto* xml = std::get_if<std::wstring>(&item);
  if (!xml) {
    return rv::invalid_parameter;
  }
  const auto& schema = s.repo.schema();
  auto parsed = cimxml::parse_instance(*xml, schema);
  if (!parsed) {
    return rv::invalid_parameter;
  }
  const auto* cls = schema.find(parsed->class_name);
  if (!cls || !schema.is_a(*cls, *schema.find(L"CIM_ResourceAllocationSettingData"))) {
    return rv::invalid_parameter;
  }
  const auto& sepsd = *schema.find(L"Msvm_SyntheticEthernetPortSettingData");
  if (!schema.is_a(*cls, sepsd)) {
    return rv::not_supported;  // this host only has synthetic network adapters
  }
  for (const auto& [name, value] : parsed->properties) {
    const auto* decl = sepsd.property(name);
    if (!decl) {
      return rv::invalid_parameter;
    }
    Value converted;
    if (cim::convert(value, decl->type.type, decl->type.array, converted) != cim::Conversion::ok) {
      return rv::incorrect_type;
    }
    std::uint32_t code = rv::ok;
    if (cim::iequals(name, L"InstanceID")) {
      code = add ? rv::ok : read_instance_id(s, converted, adapters, c);
    } else if (cim::iequals(name, L"ResourceType") || cim::iequals(name, L"ResourceSubType")) {
      // the class fixes them: nothing to take
    } else if (cim::iequals(name, L"Address") && converted.as_string() && !converted.as_string()->empty() &&
               !valid_mac(*converted.as_string())) {
      code = rv::invalid_parameter;
    } else if (cim::iequals(name, L"Connection")) {
      code = check_connection(s, converted, running, c);
      c.connection = converted;
    } else {
      c.props.emplace_back(decl->name, converted);
    }
    if (code != rv::ok) {
      return code;
    }
  }
  return !add && !c.adapter ? rv::invalid_parameter : rv::ok;  // no InstanceID: nothing to modify
}

void add_resource(HostState& s, InstanceId vm, const Change& c) {
  AdapterDescription a;
  a.instance_id = adapter_guid(c.instance_id);
  a.element_name = L"Network Adapter";
  for (const auto& [name, value] : c.props) {
    if (name == L"ElementName" && value.as_string()) {
      a.element_name = *value.as_string();
    } else if (name == L"StaticMacAddress") {
      a.static_mac = value.as_bool().value_or(false);
    } else if (name == L"Address" && value.as_string()) {
      a.address = *value.as_string();
    } else if (name == L"VirtualSystemIdentifiers") {
      a.virtual_system_identifiers = string_array(&value);
    }
  }
  // Only a static address is taken from the caller; a dynamic one is assigned.
  if (!a.static_mac || a.address.empty()) {
    a.address = s.new_mac();
  }
  const auto ports = string_array(c.connection ? &*c.connection : nullptr);
  const auto settings = s.add_adapter(vm, a, ports.empty() ? L"" : ports.front());
  for (const auto& [name, value] : c.props) {
    if (name != L"ElementName" && name != L"StaticMacAddress" && name != L"Address" &&
        name != L"VirtualSystemIdentifiers" && name != L"Connection" && !value.is_null()) {
      s.repo.set(settings, name, value);
    }
  }
}

std::uint32_t modify_resource(HostState& s, const Change& c) {
  if (!s.repo.get(c.adapter)) {
    return rv::invalid_parameter;
  }
  for (const auto& [name, value] : c.props) {
    s.repo.set(c.adapter, name, value);
  }
  if (c.connection) {
    auto conn = c.connection->is_null() ? Value::string_array({L""}) : *c.connection;
    s.repo.set(c.adapter, L"Connection", conn);
    if (const auto ep = s.vm_endpoint(c.adapter)) {
      for (auto link : s.references(*ep, L"Msvm_ActiveConnection", L"Dependent")) {
        s.repo.remove(link, cim::Cascade::none);
      }
      const auto port = s.connection_port(conn);
      if (port && s.references(*port, L"Msvm_ActiveConnection", L"Antecedent").empty()) {
        s.connect(*port, *ep);
      }
    }
  }
  return rv::ok;
}

// AddVirtualSystemResources (`add`) or ModifyVirtualSystemResources: synthetic adapters' settings.
Plan plan_resources(HostState& s, const cim::PropertyList& in, bool add) {
  const auto vm = ref_param(s, in, add ? L"TargetSystem" : L"ComputerSystem", L"Msvm_ComputerSystem");
  const auto* texts = param(in, L"ResourceSettingData");
  if (!vm || !is_vm(s, *vm) || !texts || !texts->is_array() || texts->items().empty()) {
    return refuse(rv::invalid_parameter);
  }
  if (add && !off(s, *vm)) {
    return refuse(rv::invalid_state);  // no hot-add of synthetic adapters
  }
  auto changes = std::make_shared<std::vector<Change>>();
  const bool running = runs(s.number(*vm, L"EnabledState"));
  const auto adapters = s.adapters_of(*vm);
  for (const auto& item : texts->items()) {
    Change c;
    if (const auto code = read_change(s, item, add, running, adapters, c); code != rv::ok) {
      return refuse(code);
    }
    if (add) {
      c.instance_id = L"Microsoft:" + s.text(*vm, L"Name") + L"\\" + s.new_guid();
    }
    changes->push_back(std::move(c));
  }
  Plan p;
  if (add) {
    std::vector<cim::Scalar> paths;
    for (const auto& c : *changes) {
      paths.emplace_back(cim::make_path(s.repo.server(), s.repo.ns(), L"Msvm_SyntheticEthernetPortSettingData",
                                        {{L"InstanceID", c.instance_id, true}})
                             .str());
    }
    p.out = {{L"NewResources", Value::array(cim::CimType::Reference, std::move(paths))}};
  }
  p.apply = [&s, id = *vm, add, changes] {
    if (!s.repo.get(id)) {
      return rv::invalid_parameter;
    }
    if (add && !off(s, id)) {
      return rv::invalid_state;
    }
    for (const auto& c : *changes) {
      if (add) {
        add_resource(s, id, c);
      } else if (const auto code = modify_resource(s, c); code != rv::ok) {
        return code;
      }
    }
    return rv::ok;
  };
  return p;
}

Plan remove_resources(HostState& s, InstanceId, const cim::PropertyList& in) {
  const auto vm = ref_param(s, in, L"TargetSystem", L"Msvm_ComputerSystem");
  const auto* refs = param(in, L"ResourceSettingData");
  if (!vm || !is_vm(s, *vm) || !refs || !refs->is_array() || refs->items().empty()) {
    return refuse(rv::invalid_parameter);
  }
  if (!off(s, *vm)) {
    return refuse(rv::invalid_state);  // no hot-remove either
  }
  const auto adapters = s.adapters_of(*vm);
  std::vector<InstanceId> doomed;
  for (const auto& r : string_array(refs)) {
    const auto id = s.repo.find(r);
    if (!id || std::find(adapters.begin(), adapters.end(), *id) == adapters.end()) {
      return refuse(rv::invalid_parameter);
    }
    doomed.push_back(*id);
  }
  Plan p;
  p.apply = [&s, vm = *vm, doomed] {
    if (!s.repo.get(vm) || !off(s, vm)) {
      return rv::invalid_state;
    }
    for (auto id : doomed) {
      if (s.repo.get(id)) {
        s.repo.remove(id, cim::Cascade::associations);
      }
    }
    return rv::ok;
  };
  return p;
}

// A VM's state changes

// Whether a VM in EnabledState `from` may be asked for `to`.
bool allowed(std::uint64_t to, std::uint64_t from) {
  switch (to) {
    case 2:
      return from == 3 || from == 32768 || from == 32769;
    case 3:
      return from == 2 || from == 32768 || from == 32769;
    case 10:
    case 32768:
      return from == 2;
    default:  // 32769
      return from == 2 || from == 32768;
  }
}

Plan request_state_change(HostState& s, InstanceId target, const cim::PropertyList& in) {
  if (!is_vm(s, target)) {
    return refuse(rv::not_supported);
  }
  const auto* requested = param(in, L"RequestedState");
  const auto to = requested ? requested->as_uint() : std::nullopt;
  // v1 documents 11 as reserved for future use: not a state it takes.
  if (!to || (*to != 2 && *to != 3 && *to != 10 && *to != 32768 && *to != 32769)) {
    return refuse(rv::invalid_parameter);
  }
  const auto from = s.number(target, L"EnabledState");
  if (!allowed(*to, from)) {
    return refuse(rv::invalid_state);  // also while another change is under way
  }
  Plan p;
  // What the VM shows while the change runs: starting, stopping, pausing, saving or resuming.
  const std::uint16_t showing = to == 2 && from == 32768 ? 32777
                                : to == 2 || to == 10    ? 32770
                                : to == 3                ? 32774
                                : to == 32768            ? 32776
                                                         : 32773;
  p.transition = Transition{target, showing, static_cast<std::uint16_t>(*to)};
  p.apply = [&s, target, to = *to] {
    if (!s.repo.get(target)) {
      return rv::invalid_parameter;
    }
    if (!allowed(to, s.number(target, L"EnabledState"))) {
      return rv::invalid_state;
    }
    if (to == 2 || to == 10) {
      s.start_devices(target);  // resuming keeps the devices a paused VM has
      s.set(target, L"EnabledState", Value::uint16(2));
    } else if (to == 32768) {
      s.set(target, L"EnabledState", Value::uint16(32768));
    } else {
      s.stop_devices(target);
      s.set(target, L"EnabledState", Value::uint16(static_cast<std::uint16_t>(to)));
    }
    return rv::ok;
  };
  return p;
}

Plan initiate_shutdown(HostState& s, InstanceId target, const cim::PropertyList&) {
  const auto vm = s.find_by(L"Msvm_ComputerSystem", L"Name", s.text(target, L"SystemName"));
  if (!vm) {
    return refuse(rv::failed);
  }
  if (s.number(*vm, L"EnabledState") != 2) {
    return refuse(rv::invalid_state);
  }
  Plan p;
  // The guest takes its time; RequestedState 4 is v1's "shut down through the shutdown service".
  p.transition = Transition{*vm, 32774, 4};
  p.apply = [&s, id = *vm] {
    if (!s.repo.get(id) || s.number(id, L"EnabledState") != 2) {
      return rv::invalid_state;
    }
    s.stop_devices(id);
    s.set(id, L"EnabledState", Value::uint16(3));
    return rv::ok;
  };
  return p;
}

// The planner of each method, by the class that declares it.
struct Planner {
  std::wstring_view cls;
  std::wstring_view method;
  Plan (*plan)(HostState&, InstanceId target, const cim::PropertyList& in);
};

// A planner for one of two methods that differ in a flag only.
template <Plan (*plan)(HostState&, const cim::PropertyList&, bool), bool flag>
Plan flagged(HostState& s, InstanceId, const cim::PropertyList& in) {
  return plan(s, in, flag);
}

constexpr std::wstring_view kSwitches = L"Msvm_VirtualSwitchManagementService";
constexpr std::wstring_view kSystems = L"Msvm_VirtualSystemManagementService";

constexpr Planner kPlanners[] = {
    {kSwitches, L"CreateSwitch", create_switch},
    {kSwitches, L"DeleteSwitch", delete_switch},
    {kSwitches, L"CreateSwitchPort", create_switch_port},
    {kSwitches, L"DeleteSwitchPort", delete_switch_port},
    {kSwitches, L"ConnectSwitchPort", connect_switch_port},
    {kSwitches, L"DisconnectSwitchPort", disconnect_switch_port},
    {kSwitches, L"BindExternalEthernetPort", flagged<set_binding, true>},
    {kSwitches, L"UnbindExternalEthernetPort", flagged<set_binding, false>},
    {kSwitches, L"CreateInternalEthernetPortDynamicMac", create_internal_port},
    {kSwitches, L"DeleteInternalEthernetPort", delete_internal_port},
    {kSystems, L"AddVirtualSystemResources", flagged<plan_resources, true>},
    {kSystems, L"ModifyVirtualSystemResources", flagged<plan_resources, false>},
    {kSystems, L"RemoveVirtualSystemResources", remove_resources},
    {L"CIM_EnabledLogicalElement", L"RequestStateChange", request_state_change},
    {L"Msvm_ShutdownComponent", L"InitiateShutdown", initiate_shutdown},
};

}  // namespace

CompletionMode HostState::completion(std::wstring_view method) const {
  for (const auto& [name, mode] : behaviour.completion) {
    if (cim::iequals(name, method)) {
      return mode;
    }
  }
  CompletionMode mode;
  if (cim::iequals(method, L"RequestStateChange")) {
    mode.kind = Completion::job;
  }
  return mode;
}

Plan HostState::plan(InstanceId target, const std::wstring& method, const cim::PropertyList& in) {
  for (const auto& p : kPlanners) {
    if (cim::iequals(p.method, method) && is_a(target, p.cls)) {
      return p.plan(*this, target, in);
    }
  }
  return refuse(rv::not_supported);
}

}  // namespace simhost::provider::detail
