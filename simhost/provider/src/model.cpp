// The Msvm_* object model: building it from a HostDescription, the runtime devices of running VMs, and
// reading the state back as a HostDescription.
#include "host_state.hpp"

#include "simhost/cim/schema.hpp"
#include "simhost/cim/text.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace simhost::provider::detail {
namespace {

using cim::InstanceId;
using cim::Value;

constexpr std::wstring_view kSubType = L"Microsoft Synthetic Ethernet Port";
constexpr std::wstring_view kVmCaption = L"Virtual Machine";
// The shutdown integration component has the same GUID on every VM.
constexpr std::wstring_view kShutdownIc = L"9F8233AC-BE49-4C79-8EE3-E7E1985B2077";
constexpr std::wstring_view kDefinitionGuid = L"6A45335D-4C3A-44B7-B61F-C9808BBDF8ED";

std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t fnv(std::wstring_view s) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (wchar_t c : s) {
    h ^= static_cast<std::uint64_t>(cim::fold(c));
    h *= 0x100000001B3ull;
  }
  return h;
}

std::wstring format_guid(std::uint64_t hi, std::uint64_t lo) {
  hi = (hi & ~0xF000ull) | 0x4000ull;                         // version 4
  lo = (lo & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // RFC 4122 variant
  wchar_t buf[40];
  std::swprintf(buf, 40, L"%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return buf;
}

// A GUID that depends only on `text`: names the host makes up while loading a description stay the same
// from one load to the next.
std::wstring derived_guid(std::wstring_view text) {
  std::uint64_t s = fnv(text);
  const auto hi = splitmix(s);
  return format_guid(hi, splitmix(s));
}

bool runs(std::uint64_t enabled_state) {
  return enabled_state == 2 || enabled_state == 32768;
}

// A host file holds no changes under way: a VM in transition is saved in the state it is heading to.
std::uint16_t settled(std::uint16_t enabled_state) {
  switch (enabled_state) {
    case 32770:  // starting
    case 32777:  // resuming
      return 2;
    case 32774:  // stopping
      return 3;
    case 32776:  // pausing
      return 32768;
    case 32773:  // saving
      return 32769;
    default:
      return enabled_state;
  }
}

}  // namespace

std::wstring lower(std::wstring s) {
  for (auto& c : s) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    }
  }
  return s;
}

std::wstring adapter_guid(std::wstring_view instance_id) {
  const auto slash = instance_id.rfind(L'\\');
  return std::wstring(slash == std::wstring_view::npos ? instance_id : instance_id.substr(slash + 1));
}

HostState::HostState(const HostDescription& description, std::uint64_t seed)
    : repo(cim::virtualization_schema(), description.computer_name),
      computer_name(description.computer_name),
      behaviour(description.behaviour),
      rng_state(fnv(description.computer_name) ^ seed) {
  behaviour.faults.clear();  // the host's CallObserver holds them
  build(description);
}

std::wstring HostState::new_guid() {
  const auto hi = splitmix(rng_state);
  return format_guid(hi, splitmix(rng_state));
}

bool HostState::mac_in_use(std::wstring_view mac) const {
  for (auto cls : {L"Msvm_SyntheticEthernetPortSettingData", L"Msvm_InternalEthernetPort"}) {
    const auto prop = std::wstring_view(cls) == L"Msvm_InternalEthernetPort" ? L"PermanentAddress" : L"Address";
    for (auto id : repo.instances_of(*repo.schema().find(cls))) {
      if (cim::iequals(text(id, prop), mac)) {
        return true;
      }
    }
  }
  return false;
}

std::wstring HostState::new_mac() {
  for (;;) {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"00155D%06llX", static_cast<unsigned long long>(splitmix(rng_state) & 0xFFFFFF));
    if (!mac_in_use(buf)) {
      return buf;
    }
  }
}

InstanceId HostState::create(std::wstring_view cls, const cim::PropertyList& props) {
  auto r = repo.create(cls, props);
  if (!r) {
    throw std::logic_error("cannot create " + cim::narrow(cls) + " (status " +
                           std::to_string(static_cast<int>(r.error())) + ")");
  }
  return *r;
}

std::wstring HostState::path(InstanceId id) const {
  return repo.path_text(*repo.get(id));
}

Value HostState::get(InstanceId id, std::wstring_view name) const {
  const auto* inst = repo.get(id);
  if (!inst) {
    return {};
  }
  return repo.property(*inst, name).value_or(Value{});
}

std::wstring HostState::text(InstanceId id, std::wstring_view name) const {
  const auto v = get(id, name);
  const auto* s = v.is_array() ? nullptr : v.as_string();
  return s ? *s : std::wstring();
}

std::uint64_t HostState::number(InstanceId id, std::wstring_view name) const {
  const auto v = get(id, name);
  return v.is_array() ? 0 : v.as_uint().value_or(0);
}

void HostState::set(InstanceId id, std::wstring_view name, const Value& v) {
  if (repo.set(id, name, v) != cim::Status::ok) {
    throw std::logic_error("cannot set " + cim::narrow(name));
  }
}

std::optional<InstanceId> HostState::find_by(std::wstring_view cls, std::wstring_view prop,
                                             std::wstring_view value) const {
  // From the repository's value index: the host is built and changed through here, at any size.
  const auto* def = repo.schema().find(cls);
  std::optional<InstanceId> first;
  for (const auto* c : repo.schema().with_subclasses(*def)) {
    const auto index = c->property_index(prop);
    if (!index) {
      continue;
    }
    const auto found = repo.matching(*c, *index, value, false);
    if (!found.empty() && (!first || found.front() < *first)) {
      first = found.front();
    }
  }
  return first;
}

bool HostState::is_a(InstanceId id, std::wstring_view cls) const {
  const auto* inst = repo.get(id);
  const auto* def = repo.schema().find(cls);
  return inst && def && repo.schema().is_a(*inst->cls, *def);
}

std::vector<InstanceId> HostState::associators(InstanceId id, std::wstring_view assoc, std::wstring_view result_class,
                                               std::wstring_view role) const {
  cim::AssociatorFilter f;
  f.assoc_class = assoc;
  f.result_class = result_class;
  f.role = role;
  return repo.associators_of(id, f);
}

std::vector<InstanceId> HostState::references(InstanceId id, std::wstring_view assoc, std::wstring_view role) const {
  cim::ReferenceFilter f;
  f.result_class = assoc;
  f.role = role;
  return repo.references_of(id, f);
}

InstanceId HostState::add_switch(const std::wstring& name, const std::wstring& element_name, std::uint32_t learnable,
                                 const std::wstring& scope) {
  return create(L"Msvm_VirtualSwitch", {{L"CreationClassName", Value::string(L"Msvm_VirtualSwitch")},
                                        {L"Name", Value::string(name)},
                                        {L"ElementName", Value::string(element_name)},
                                        {L"Caption", Value::string(L"Virtual Switch")},
                                        {L"NumLearnableAddresses", Value::uint32(learnable)},
                                        {L"ScopeOfResidence", Value::string(scope)},
                                        {L"HealthState", Value::uint16(5)},
                                        {L"EnabledState", Value::uint16(2)}});
}

InstanceId HostState::add_switch_port(InstanceId sw, const std::wstring& name, const std::wstring& element_name,
                                      const std::wstring& scope) {
  const auto port = create(L"Msvm_SwitchPort", {{L"CreationClassName", Value::string(L"Msvm_SwitchPort")},
                                                {L"Name", Value::string(name)},
                                                {L"SystemCreationClassName", Value::string(L"Msvm_VirtualSwitch")},
                                                {L"SystemName", Value::string(text(sw, L"Name"))},
                                                {L"ElementName", Value::string(element_name)},
                                                {L"ScopeOfResidence", Value::string(scope)},
                                                {L"HealthState", Value::uint16(5)},
                                                {L"EnabledState", Value::uint16(2)}});
  create(L"Msvm_HostedAccessPoint", {{L"Antecedent", ref(sw)}, {L"Dependent", ref(port)}});
  return port;
}

InstanceId HostState::add_switch_endpoint(InstanceId eth_port) {
  const auto ep =
      create(L"Msvm_SwitchLANEndpoint", {{L"CreationClassName", Value::string(L"Msvm_SwitchLANEndpoint")},
                                         {L"Name", Value::string(L"/DEVICE/" + text(eth_port, L"DeviceID"))},
                                         {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                                         {L"SystemName", Value::string(computer_name)},
                                         {L"ElementName", Value::string(text(eth_port, L"ElementName"))},
                                         {L"MACAddress", get(eth_port, L"PermanentAddress")},
                                         {L"EnabledState", Value::uint16(2)}});
  create(L"Msvm_GlobalEthernetPortSAPImplementation", {{L"Antecedent", ref(eth_port)}, {L"Dependent", ref(ep)}});
  return ep;
}

InstanceId HostState::add_internal_port(const std::wstring& name, const std::wstring& element_name) {
  const auto port =
      create(L"Msvm_InternalEthernetPort", {{L"CreationClassName", Value::string(L"Msvm_InternalEthernetPort")},
                                            {L"DeviceID", Value::string(L"Microsoft:" + name)},
                                            {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                                            {L"SystemName", Value::string(computer_name)},
                                            {L"Name", Value::string(name)},
                                            {L"ElementName", Value::string(element_name)},
                                            {L"PermanentAddress", Value::string(new_mac())},
                                            {L"ActiveMaximumTransmissionUnit", Value::uint64(1500)},
                                            {L"HealthState", Value::uint16(5)},
                                            {L"EnabledState", Value::uint16(2)},
                                            {L"IsBound", Value::boolean(false)}});
  add_switch_endpoint(port);
  return port;
}

InstanceId HostState::connect(InstanceId switch_port, InstanceId endpoint) {
  return create(L"Msvm_ActiveConnection", {{L"Antecedent", ref(switch_port)}, {L"Dependent", ref(endpoint)}});
}

void HostState::disconnect_port(InstanceId switch_port) {
  for (auto link : references(switch_port, L"Msvm_ActiveConnection", L"Antecedent")) {
    repo.remove(link, cim::Cascade::none);
  }
}

std::optional<InstanceId> HostState::endpoint_of(InstanceId eth_port) const {
  const auto eps = associators(eth_port, L"Msvm_GlobalEthernetPortSAPImplementation", L"Msvm_SwitchLANEndpoint");
  return eps.empty() ? std::nullopt : std::optional(eps.front());
}

void HostState::unbind(InstanceId external_port) {
  if (const auto ep = endpoint_of(external_port)) {
    repo.remove(*ep, cim::Cascade::associations);
  }
  set(external_port, L"IsBound", Value::boolean(false));
}

std::optional<InstanceId> HostState::settings_of(InstanceId vm) const {
  const auto s = associators(vm, L"Msvm_SettingsDefineState", L"Msvm_VirtualSystemSettingData");
  return s.empty() ? std::nullopt : std::optional(s.front());
}

std::vector<InstanceId> HostState::adapters_of(InstanceId vm) const {
  const auto vssd = settings_of(vm);
  if (!vssd) {
    return {};
  }
  return associators(*vssd, L"Msvm_VirtualSystemSettingDataComponent", L"Msvm_SyntheticEthernetPortSettingData",
                     L"GroupComponent");
}

InstanceId HostState::add_adapter(InstanceId vm, const AdapterDescription& a, const std::wstring& connection) {
  const auto vm_name = text(vm, L"Name");
  auto ids = a.virtual_system_identifiers;
  if (ids.empty()) {
    ids.push_back(L"{" + a.instance_id + L"}");
  }
  const auto settings = create(L"Msvm_SyntheticEthernetPortSettingData",
                               {{L"InstanceID", Value::string(L"Microsoft:" + vm_name + L"\\" + a.instance_id)},
                                {L"ElementName", Value::string(a.element_name)},
                                {L"Caption", Value::string(L"Ethernet Port")},
                                {L"Address", Value::string(a.address.empty() ? new_mac() : a.address)},
                                {L"StaticMacAddress", Value::boolean(a.static_mac)},
                                {L"Connection", Value::string_array({connection})},
                                {L"VirtualSystemIdentifiers", Value::string_array(ids)},
                                {L"ResourceType", Value::uint16(10)},
                                {L"ResourceSubType", Value::string(std::wstring(kSubType))},
                                {L"AllocationUnits", Value::string(L"Ports")},
                                {L"VirtualQuantity", Value::uint64(1)},
                                {L"AutomaticAllocation", Value::boolean(true)}});
  create(L"Msvm_VirtualSystemSettingDataComponent",
         {{L"GroupComponent", ref(*settings_of(vm))}, {L"PartComponent", ref(settings)}});
  return settings;
}

std::optional<InstanceId> HostState::connection_port(const Value& connection) const {
  if (!connection.is_array() || connection.is_null() || connection.items().empty()) {
    return std::nullopt;
  }
  const auto* s = std::get_if<std::wstring>(&connection.items().front());
  if (!s || s->empty()) {
    return std::nullopt;
  }
  const auto id = repo.find(*s);
  if (!id || !is_a(*id, L"Msvm_SwitchPort")) {
    return std::nullopt;
  }
  return id;
}

std::optional<InstanceId> HostState::vm_endpoint(InstanceId adapter) const {
  const auto instance = text(adapter, L"InstanceID");
  const auto colon = instance.find(L':');
  const auto slash = instance.rfind(L'\\');
  if (colon == std::wstring::npos || slash == std::wstring::npos || slash < colon) {
    return std::nullopt;
  }
  const auto name = lower(instance.substr(colon + 1, slash - colon - 1)) + L"_" + lower(adapter_guid(instance));
  return find_by(L"Msvm_VmLANEndpoint", L"Name", name);
}

void HostState::start_adapter(InstanceId vm, InstanceId adapter) {
  if (vm_endpoint(adapter)) {
    return;
  }
  const auto vm_name = text(vm, L"Name");
  const auto guid = adapter_guid(text(adapter, L"InstanceID"));
  const auto mac = text(adapter, L"Address");
  const auto device =
      create(L"Msvm_SyntheticEthernetPort", {{L"CreationClassName", Value::string(L"Msvm_SyntheticEthernetPort")},
                                             {L"DeviceID", Value::string(L"Microsoft:" + vm_name + L"\\" + guid)},
                                             {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                                             {L"SystemName", Value::string(vm_name)},
                                             {L"ElementName", get(adapter, L"ElementName")},
                                             {L"PermanentAddress", Value::string(mac)},
                                             {L"NetworkAddresses", Value::string_array({mac})},
                                             {L"ActiveMaximumTransmissionUnit", Value::uint64(1500)},
                                             {L"HealthState", Value::uint16(5)},
                                             {L"EnabledState", Value::uint16(2)}});
  const auto ep = create(L"Msvm_VmLANEndpoint", {{L"CreationClassName", Value::string(L"Msvm_VmLANEndpoint")},
                                                 {L"Name", Value::string(lower(vm_name) + L"_" + lower(guid))},
                                                 {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                                                 {L"SystemName", Value::string(vm_name)},
                                                 {L"ElementName", get(adapter, L"ElementName")},
                                                 {L"MACAddress", Value::string(mac)},
                                                 {L"EnabledState", Value::uint16(2)}});
  create(L"Msvm_DeviceSAPImplementation", {{L"Antecedent", ref(device)}, {L"Dependent", ref(ep)}});
  create(L"Msvm_SystemDevice", {{L"GroupComponent", ref(vm)}, {L"PartComponent", ref(device)}});
  // A port that something else already holds stays with it; the adapter then runs unplugged.
  const auto port = connection_port(get(adapter, L"Connection"));
  if (port && references(*port, L"Msvm_ActiveConnection", L"Antecedent").empty()) {
    connect(*port, ep);
  }
}

void HostState::stop_adapter(InstanceId adapter) {
  if (const auto ep = vm_endpoint(adapter)) {
    for (auto dev : associators(*ep, L"Msvm_DeviceSAPImplementation", L"Msvm_SyntheticEthernetPort")) {
      repo.remove(dev, cim::Cascade::associations);
    }
    repo.remove(*ep, cim::Cascade::associations);
  }
}

void HostState::start_devices(InstanceId vm) {
  for (auto adapter : adapters_of(vm)) {
    start_adapter(vm, adapter);
  }
  const auto vm_name = text(vm, L"Name");
  if (shutdown_enabled[vm_name] && !find_by(L"Msvm_ShutdownComponent", L"SystemName", vm_name)) {
    const auto sc = create(L"Msvm_ShutdownComponent",
                           {{L"CreationClassName", Value::string(L"Msvm_ShutdownComponent")},
                            {L"DeviceID", Value::string(L"Microsoft:" + vm_name + L"\\" + std::wstring(kShutdownIc))},
                            {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                            {L"SystemName", Value::string(vm_name)},
                            {L"ElementName", Value::string(L"Shutdown")},
                            {L"HealthState", Value::uint16(5)},
                            {L"EnabledState", Value::uint16(2)}});
    create(L"Msvm_SystemDevice", {{L"GroupComponent", ref(vm)}, {L"PartComponent", ref(sc)}});
  }
}

void HostState::stop_devices(InstanceId vm) {
  for (auto adapter : adapters_of(vm)) {
    stop_adapter(adapter);
  }
  while (const auto sc = find_by(L"Msvm_ShutdownComponent", L"SystemName", text(vm, L"Name"))) {
    repo.remove(*sc, cim::Cascade::associations);
  }
}

void HostState::build(const HostDescription& description) {
  auto system = [&](const std::wstring& name, std::wstring_view caption, const std::wstring& element,
                    std::uint16_t state, std::uint16_t health) {
    return create(L"Msvm_ComputerSystem",
                  {{L"CreationClassName", Value::string(L"Msvm_ComputerSystem")},
                   {L"Name", Value::string(name)},
                   {L"Caption", Value::string(std::wstring(caption))},
                   {L"Description", Value::string(caption == kVmCaption ? L"Microsoft Virtual Machine"
                                                                        : L"Microsoft Hosting Computer System")},
                   {L"ElementName", Value::string(element)},
                   {L"EnabledState", Value::uint16(state)},
                   {L"RequestedState", Value::uint16(12)},  // "Not Applicable" until a change is asked for
                   {L"HealthState", Value::uint16(health)}});
  };
  host_id = system(computer_name, L"Hosting Computer System", computer_name, 2, 5);
  auto service = [&](std::wstring_view cls, std::wstring_view name, std::wstring_view element) {
    return create(cls, {{L"CreationClassName", Value::string(std::wstring(cls))},
                        {L"Name", Value::string(std::wstring(name))},
                        {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                        {L"SystemName", Value::string(computer_name)},
                        {L"ElementName", Value::string(std::wstring(element))},
                        {L"Caption", Value::string(std::wstring(element))},
                        {L"HealthState", Value::uint16(5)},
                        {L"EnabledState", Value::uint16(5)},
                        {L"StartMode", Value::string(L"Automatic")},
                        {L"Started", Value::boolean(true)}});
  };
  switch_service =
      service(L"Msvm_VirtualSwitchManagementService", L"nvspwmi", L"Hyper-V Networking Management Service");
  system_service =
      service(L"Msvm_VirtualSystemManagementService", L"vmms", L"Hyper-V Virtual System Management Service");

  for (const auto& p : description.external_ports) {
    const auto port =
        create(L"Msvm_ExternalEthernetPort", {{L"CreationClassName", Value::string(L"Msvm_ExternalEthernetPort")},
                                              {L"DeviceID", Value::string(p.device_id)},
                                              {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                                              {L"SystemName", Value::string(computer_name)},
                                              {L"Name", Value::string(p.element_name)},
                                              {L"ElementName", Value::string(p.element_name)},
                                              {L"ActiveMaximumTransmissionUnit", Value::uint64(p.mtu)},
                                              {L"HealthState", Value::uint16(p.health_state)},
                                              {L"EnabledState", Value::uint16(2)},
                                              {L"IsBound", Value::boolean(p.bound)}});
    if (p.bound) {
      add_switch_endpoint(port);
    }
  }
  std::map<std::wstring, std::wstring> new_ports;  // "<VM>/<adapter>" -> path of its port
  for (const auto& s : description.switches) {
    const auto sw = add_switch(s.name, s.element_name, 1024, L"");
    // The uplink port comes first, as on a host where it was made with the switch.
    std::optional<InstanceId> uplink_endpoint;
    if (!s.external.empty()) {
      uplink_endpoint = endpoint_of(*find_by(L"Msvm_ExternalEthernetPort", L"DeviceID", s.external));
    } else if (s.internal) {
      uplink_endpoint = endpoint_of(add_internal_port(derived_guid(s.name + L"/internal"), s.element_name));
    }
    if (uplink_endpoint) {
      const auto port =
          add_switch_port(sw, derived_guid(s.name + L"/uplink"), s.internal ? L"Internal Port" : L"External Port", L"");
      connect(port, *uplink_endpoint);
    }
    for (const auto& p : s.ports) {
      add_switch_port(sw, p.name, p.element_name, L"");
    }
    // Adapters that ask for a new port on this switch get it now, so that a saved and
    // reloaded host lists its ports in the same order.
    for (const auto& v : description.vms) {
      for (const auto& a : v.adapters) {
        if (!a.switch_name.empty() && cim::iequals(a.switch_name, s.element_name)) {
          const auto port =
              add_switch_port(sw, derived_guid(v.name + L"/" + a.instance_id), L"Dynamic Ethernet Switch Port", L"");
          new_ports[v.name + L"/" + a.instance_id] = path(port);
        }
      }
    }
  }
  for (const auto& v : description.vms) {
    const auto vm = system(v.name, kVmCaption, v.element_name, v.enabled_state, v.health_state);
    const auto vssd =
        create(L"Msvm_VirtualSystemSettingData", {{L"InstanceID", Value::string(L"Microsoft:" + v.name)},
                                                  {L"ElementName", Value::string(v.element_name)},
                                                  {L"Caption", Value::string(L"Virtual Machine Settings")},
                                                  {L"SystemName", Value::string(v.name)},
                                                  {L"VirtualSystemIdentifier", Value::string(v.name)},
                                                  {L"VirtualSystemType", Value::string(L"301")},
                                                  {L"SettingType", Value::uint16(3)}});
    create(L"Msvm_SettingsDefineState", {{L"ManagedElement", ref(vm)}, {L"SettingData", ref(vssd)}});
    shutdown_enabled[v.name] = v.shutdown_component;
    for (const auto& a : v.adapters) {
      std::wstring connection;
      if (!a.port.empty()) {
        connection = path(*find_by(L"Msvm_SwitchPort", L"Name", a.port));
      } else if (!a.switch_name.empty()) {
        connection = new_ports.at(v.name + L"/" + a.instance_id);
      }
      add_adapter(vm, a, connection);
    }
    if (runs(v.enabled_state)) {
      start_devices(vm);
    }
  }
  build_pool();
}

void HostState::build_pool() {
  const auto pool =
      create(L"Msvm_ResourcePool", {{L"InstanceID", Value::string(L"Microsoft:Primordial\\Ethernet Port")},
                                    {L"PoolID", Value::string(L"")},
                                    {L"ElementName", Value::string(L"Synthetic Ethernet Port Pool")},
                                    {L"Primordial", Value::boolean(true)},
                                    {L"ResourceType", Value::uint16(10)},
                                    {L"ResourceSubType", Value::string(std::wstring(kSubType))},
                                    {L"AllocationUnits", Value::string(L"Ports")}});
  const std::wstring prefix = L"Microsoft:Definition\\" + std::wstring(kDefinitionGuid);
  const auto caps = create(L"Msvm_AllocationCapabilities",
                           {{L"InstanceID", Value::string(prefix)},
                            {L"ElementName", Value::string(L"Microsoft Synthetic Ethernet Port Capabilities")},
                            {L"ResourceType", Value::uint16(10)},
                            {L"ResourceSubType", Value::string(std::wstring(kSubType))},
                            {L"RequestTypesSupported", Value::uint16(3)},
                            {L"SharingMode", Value::uint16(3)}});
  create(L"Msvm_ElementCapabilities", {{L"ManagedElement", ref(pool)}, {L"Capabilities", ref(caps)}});
  auto settings = [&](std::wstring_view which) {
    return create(L"Msvm_SyntheticEthernetPortSettingData",
                  {{L"InstanceID", Value::string(prefix + L"\\" + std::wstring(which))},
                   {L"ElementName", Value::string(L"Network Adapter")},
                   {L"Caption", Value::string(L"Ethernet Port")},
                   {L"ResourceType", Value::uint16(10)},
                   {L"ResourceSubType", Value::string(std::wstring(kSubType))},
                   {L"Connection", Value::string_array({L""})},
                   {L"StaticMacAddress", Value::boolean(false)},
                   {L"AllocationUnits", Value::string(L"Ports")},
                   {L"VirtualQuantity", Value::uint64(1)}});
  };
  auto link = [&](InstanceId s, std::uint16_t role, std::uint16_t range) {
    create(L"Msvm_SettingsDefineCapabilities", {{L"GroupComponent", ref(caps)},
                                                {L"PartComponent", ref(s)},
                                                {L"ValueRole", Value::uint16(role)},
                                                {L"ValueRange", Value::uint16(range)}});
  };
  const bool first = behaviour.default_settings_first;
  const auto def = first ? settings(L"Default") : 0;
  const auto min = settings(L"Minimum");
  const auto max = settings(L"Maximum");
  const auto inc = settings(L"Increment");
  const auto def_last = first ? def : settings(L"Default");
  if (first) {
    link(def, 0, 0);
  }
  link(min, 3, 1);
  link(max, 3, 2);
  link(inc, 3, 3);
  if (!first) {
    link(def_last, 0, 0);
  }
}

HostDescription HostState::to_description() const {
  HostDescription description;
  description.computer_name = computer_name;
  description.behaviour = behaviour;
  const auto& schema = repo.schema();
  for (auto id : repo.instances_of(*schema.find(L"Msvm_ExternalEthernetPort"))) {
    description.external_ports.push_back(
        {text(id, L"DeviceID"), text(id, L"ElementName"), number(id, L"ActiveMaximumTransmissionUnit"),
         static_cast<std::uint16_t>(number(id, L"HealthState")), get(id, L"IsBound").as_bool().value_or(false)});
  }
  for (auto sw : repo.instances_of(*schema.find(L"Msvm_VirtualSwitch"))) {
    SwitchDescription s{text(sw, L"Name"), text(sw, L"ElementName"), L"", false, {}};
    for (auto port : associators(sw, L"Msvm_HostedAccessPoint", L"Msvm_SwitchPort", L"Antecedent")) {
      bool uplink = false;
      for (auto ep : associators(port, L"Msvm_ActiveConnection", L"Msvm_SwitchLANEndpoint", L"Antecedent")) {
        for (auto eth : associators(ep, L"Msvm_GlobalEthernetPortSAPImplementation", L"CIM_EthernetPort")) {
          if (is_a(eth, L"Msvm_ExternalEthernetPort") && s.external.empty() && !s.internal) {
            s.external = text(eth, L"DeviceID");
            uplink = true;
          } else if (is_a(eth, L"Msvm_InternalEthernetPort") && s.external.empty() && !s.internal) {
            s.internal = true;
            uplink = true;
          }
        }
      }
      if (!uplink) {
        s.ports.push_back({text(port, L"Name"), text(port, L"ElementName")});
      }
    }
    description.switches.push_back(std::move(s));
  }
  const auto* cs = schema.find(L"Msvm_ComputerSystem");
  for (auto vm : repo.instances_of(*cs, false)) {
    if (text(vm, L"Caption") != kVmCaption) {
      continue;
    }
    VmDescription v;
    v.name = text(vm, L"Name");
    v.element_name = text(vm, L"ElementName");
    v.enabled_state = settled(static_cast<std::uint16_t>(number(vm, L"EnabledState")));
    v.health_state = static_cast<std::uint16_t>(number(vm, L"HealthState"));
    const auto it = shutdown_enabled.find(v.name);
    v.shutdown_component = it != shutdown_enabled.end() && it->second;
    for (auto adapter : adapters_of(vm)) {
      AdapterDescription a;
      a.instance_id = adapter_guid(text(adapter, L"InstanceID"));
      a.element_name = text(adapter, L"ElementName");
      a.address = text(adapter, L"Address");
      a.static_mac = get(adapter, L"StaticMacAddress").as_bool().value_or(false);
      const auto ids = get(adapter, L"VirtualSystemIdentifiers");
      if (ids.is_array() && !ids.is_null()) {
        for (const auto& item : ids.items()) {
          a.virtual_system_identifiers.push_back(std::get<std::wstring>(item));
        }
      }
      // A Connection naming a port that is gone cannot be written as a port name.
      if (const auto port = connection_port(get(adapter, L"Connection"))) {
        a.port = text(*port, L"Name");
      }
      v.adapters.push_back(std::move(a));
    }
    description.vms.push_back(std::move(v));
  }
  return description;
}

}  // namespace simhost::provider::detail
