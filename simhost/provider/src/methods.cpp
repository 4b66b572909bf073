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
  if (v && v->is_array()) {
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
  const auto out_path = [&](std::wstring_view cls, std::vector<cim::KeyBinding> keys) {
    return Value::reference(cim::make_path(repo.server(), repo.ns(), std::wstring(cls), std::move(keys)).str());
  };
  // A reference parameter that names an existing instance of `cls`.
  const auto ref_param = [&](std::wstring_view name, std::wstring_view cls) -> std::optional<InstanceId> {
    const auto* v = param(in, name);
    const auto* s = v && !v->is_array() ? v->as_string() : nullptr;
    if (!s) {
      return std::nullopt;
    }
    const auto id = repo.find(*s);
    return id && is_a(*id, cls) ? id : std::nullopt;
  };
  const auto port_name_taken = [&](std::wstring_view name) {
    return find_by(L"Msvm_SwitchPort", L"Name", name).has_value();
  };
  const auto is_vm = [&](InstanceId id) {
    return is_a(id, L"Msvm_ComputerSystem") && id != host_id && !is_a(id, L"Msvm_VirtualSwitch");
  };
  const auto off = [this](InstanceId vm) { return number(vm, L"EnabledState") == 3; };
  const auto connected = [&](InstanceId port) {
    return !references(port, L"Msvm_ActiveConnection", L"Antecedent").empty();
  };

  if (method == L"CreateSwitch") {
    auto name = string_param(in, L"Name");
    if (name.empty()) {
      return refuse(rv::invalid_parameter);
    }
    if (find_by(L"Msvm_VirtualSwitch", L"Name", name)) {
      return refuse(rv::invalid_parameter);
    }
    auto friendly = string_param(in, L"FriendlyName");
    const auto* learn = param(in, L"NumLearnableAddresses");
    const auto learnable = static_cast<std::uint32_t>(learn ? learn->as_uint().value_or(1024) : 1024);
    auto scope = string_param(in, L"ScopeOfResidence");
    Plan p;
    p.out = {{L"CreatedVirtualSwitch",
              out_path(L"Msvm_VirtualSwitch",
                       {{L"CreationClassName", L"Msvm_VirtualSwitch", true}, {L"Name", name, true}})}};
    p.apply = [this, name, friendly, learnable, scope] {
      if (find_by(L"Msvm_VirtualSwitch", L"Name", name)) {
        return rv::invalid_parameter;
      }
      add_switch(name, friendly.empty() ? name : friendly, learnable, scope);
      return rv::ok;
    };
    return p;
  }
  if (method == L"DeleteSwitch") {
    const auto sw = ref_param(L"VirtualSwitch", L"Msvm_VirtualSwitch");
    if (!sw) {
      return refuse(rv::invalid_parameter);
    }
    Plan p;
    p.apply = [this, id = *sw] {
      if (!repo.get(id)) {
        return rv::invalid_parameter;
      }
      for (auto port : associators(id, L"Msvm_HostedAccessPoint", L"Msvm_SwitchPort", L"Antecedent")) {
        for (auto ep : associators(port, L"Msvm_ActiveConnection", L"Msvm_SwitchLANEndpoint", L"Antecedent")) {
          for (auto eth : associators(ep, L"Msvm_GlobalEthernetPortSAPImplementation", L"Msvm_ExternalEthernetPort")) {
            unbind(eth);
          }
        }
        repo.remove(port, cim::Cascade::associations);
      }
      repo.remove(id, cim::Cascade::associations);
      return rv::ok;
    };
    return p;
  }
  if (method == L"CreateSwitchPort") {
    const auto sw = ref_param(L"VirtualSwitch", L"Msvm_VirtualSwitch");
    auto name = string_param(in, L"Name");
    if (!sw || name.empty() || port_name_taken(name)) {
      return refuse(rv::invalid_parameter);
    }
    auto friendly = string_param(in, L"FriendlyName");
    auto scope = string_param(in, L"ScopeOfResidence");
    Plan p;
    p.out = {
        {L"CreatedSwitchPort", out_path(L"Msvm_SwitchPort", {{L"CreationClassName", L"Msvm_SwitchPort", true},
                                                             {L"Name", name, true},
                                                             {L"SystemCreationClassName", L"Msvm_VirtualSwitch", true},
                                                             {L"SystemName", text(*sw, L"Name"), true}})}};
    p.apply = [this, id = *sw, name, friendly, scope, port_name_taken] {
      if (!repo.get(id) || port_name_taken(name)) {
        return rv::invalid_parameter;
      }
      add_switch_port(id, name, friendly.empty() ? name : friendly, scope);
      return rv::ok;
    };
    return p;
  }
  if (method == L"DeleteSwitchPort") {
    const auto port = ref_param(L"SwitchPort", L"Msvm_SwitchPort");
    if (!port) {
      return refuse(rv::invalid_parameter);
    }
    Plan p;
    // Adapter settings whose Connection names the port keep that text, as on a real host.
    p.apply = [this, id = *port] {
      return repo.remove(id, cim::Cascade::associations).empty() ? rv::invalid_parameter : rv::ok;
    };
    return p;
  }
  if (method == L"ConnectSwitchPort") {
    const auto port = ref_param(L"SwitchPort", L"Msvm_SwitchPort");
    const auto ep = ref_param(L"LANEndpoint", L"CIM_LANEndpoint");
    if (!port || !ep) {
      return refuse(rv::invalid_parameter);
    }
    if (connected(*port) || !references(*ep, L"Msvm_ActiveConnection", L"Dependent").empty()) {
      return refuse(rv::in_use);
    }
    Plan p;
    p.out = {{L"ActiveConnection", out_path(L"Msvm_ActiveConnection",
                                            {{L"Antecedent", path(*port), true}, {L"Dependent", path(*ep), true}})}};
    p.apply = [this, port = *port, ep = *ep, connected] {
      if (!repo.get(port) || !repo.get(ep)) {
        return rv::invalid_parameter;
      }
      if (connected(port) || !references(ep, L"Msvm_ActiveConnection", L"Dependent").empty()) {
        return rv::in_use;
      }
      connect(port, ep);
      return rv::ok;
    };
    return p;
  }
  if (method == L"DisconnectSwitchPort") {
    const auto port = ref_param(L"SwitchPort", L"Msvm_SwitchPort");
    if (!port) {
      return refuse(rv::invalid_parameter);
    }
    Plan p;
    p.apply = [this, id = *port] {
      if (!repo.get(id)) {
        return rv::invalid_parameter;
      }
      disconnect_port(id);
      return rv::ok;
    };
    return p;
  }
  if (method == L"BindExternalEthernetPort" || method == L"UnbindExternalEthernetPort") {
    const auto eth = ref_param(L"ExternalEthernetPort", L"Msvm_ExternalEthernetPort");
    if (!eth) {
      return refuse(rv::invalid_parameter);
    }
    const bool bind = method == L"BindExternalEthernetPort";
    const auto bound = [this](InstanceId id) { return get(id, L"IsBound").as_bool().value_or(false); };
    if (bound(*eth) == bind) {
      return refuse(rv::invalid_state);
    }
    Plan p;
    p.apply = [this, id = *eth, bind, bound] {
      if (!repo.get(id)) {
        return rv::invalid_parameter;
      }
      if (bound(id) == bind) {
        return rv::invalid_state;
      }
      if (bind) {
        add_switch_endpoint(id);
        set(id, L"IsBound", Value::boolean(true));
      } else {
        unbind(id);
      }
      return rv::ok;
    };
    return p;
  }
  if (method == L"CreateInternalEthernetPortDynamicMac") {
    auto name = string_param(in, L"Name");
    const auto taken = [this](const std::wstring& n) {
      return find_by(L"Msvm_InternalEthernetPort", L"Name", n) ||
             find_by(L"Msvm_InternalEthernetPort", L"DeviceID", L"Microsoft:" + n);
    };
    if (name.empty() || taken(name)) {
      return refuse(rv::invalid_parameter);
    }
    auto friendly = string_param(in, L"FriendlyName");
    Plan p;
    p.out = {{L"CreatedInternalEthernetPort",
              out_path(L"Msvm_InternalEthernetPort", {{L"CreationClassName", L"Msvm_InternalEthernetPort", true},
                                                      {L"DeviceID", L"Microsoft:" + name, true},
                                                      {L"SystemCreationClassName", L"Msvm_ComputerSystem", true},
                                                      {L"SystemName", computer_name, true}})}};
    p.apply = [this, name, friendly, taken] {
      if (taken(name)) {
        return rv::invalid_parameter;
      }
      add_internal_port(name, friendly.empty() ? name : friendly);
      return rv::ok;
    };
    return p;
  }
  if (method == L"DeleteInternalEthernetPort") {
    const auto eth = ref_param(L"InternalEthernetPort", L"Msvm_InternalEthernetPort");
    if (!eth) {
      return refuse(rv::invalid_parameter);
    }
    Plan p;
    p.apply = [this, id = *eth] {
      if (!repo.get(id)) {
        return rv::invalid_parameter;
      }
      if (const auto ep = endpoint_of(id)) {
        repo.remove(*ep, cim::Cascade::associations);
      }
      repo.remove(id, cim::Cascade::associations);
      return rv::ok;
    };
    return p;
  }

  if (method == L"ModifyVirtualSystemResources" || method == L"AddVirtualSystemResources") {
    const bool add = method == L"AddVirtualSystemResources";
    const auto vm = ref_param(add ? L"TargetSystem" : L"ComputerSystem", L"Msvm_ComputerSystem");
    const auto* texts = param(in, L"ResourceSettingData");
    if (!vm || !is_vm(*vm) || !texts || !texts->is_array() || texts->items().empty()) {
      return refuse(rv::invalid_parameter);
    }
    if (add && !off(*vm)) {
      return refuse(rv::invalid_state);  // no hot-add of synthetic adapters
    }
    const auto& sepsd = *repo.schema().find(L"Msvm_SyntheticEthernetPortSettingData");
    struct Change {
      InstanceId adapter = 0;    // Modify
      std::wstring instance_id;  // Add
      cim::PropertyList props;
      std::optional<Value> connection;
    };
    auto changes = std::make_shared<std::vector<Change>>();
    const bool running = runs(number(*vm, L"EnabledState"));
    const auto adapters = adapters_of(*vm);
    for (const auto& item : texts->items()) {
      const auto* xml = std::get_if<std::wstring>(&item);
      if (!xml) {
        return refuse(rv::invalid_parameter);
      }
      auto parsed = cimxml::parse_instance(*xml, repo.schema());
      if (!parsed) {
        return refuse(rv::invalid_parameter);
      }
      const auto* cls = repo.schema().find(parsed->class_name);
      if (!cls || !repo.schema().is_a(*cls, *repo.schema().find(L"CIM_ResourceAllocationSettingData"))) {
        return refuse(rv::invalid_parameter);
      }
      if (!repo.schema().is_a(*cls, sepsd)) {
        return refuse(rv::not_supported);  // this host only has synthetic network adapters
      }
      Change c;
      for (const auto& [name, value] : parsed->properties) {
        const auto* decl = sepsd.property(name);
        if (!decl) {
          return refuse(rv::invalid_parameter);
        }
        Value converted;
        if (cim::convert(value, decl->type.type, decl->type.array, converted) != cim::Conversion::ok) {
          return refuse(rv::incorrect_type);
        }
        if (cim::iequals(name, L"InstanceID")) {
          if (!add) {
            const auto* id = converted.as_string();
            const auto it = std::find_if(adapters.begin(), adapters.end(),
                                         [&](InstanceId a) { return id && cim::iequals(text(a, L"InstanceID"), *id); });
            if (it == adapters.end()) {
              return refuse(rv::invalid_parameter);
            }
            c.adapter = *it;
          }
          continue;
        }
        if (cim::iequals(name, L"ResourceType") || cim::iequals(name, L"ResourceSubType")) {
          continue;
        }
        if (cim::iequals(name, L"Address") && converted.as_string() && !converted.as_string()->empty() &&
            !valid_mac(*converted.as_string())) {
          return refuse(rv::invalid_parameter);
        }
        if (cim::iequals(name, L"Connection")) {
          const auto first = string_array(&converted);
          if (!first.empty() && !first.front().empty()) {
            const auto port = connection_port(converted);
            if (!port) {
              return refuse(rv::invalid_parameter);
            }
            const auto links = references(*port, L"Msvm_ActiveConnection", L"Antecedent");
            const auto own = c.adapter ? vm_endpoint(c.adapter) : std::nullopt;
            if (running && !links.empty() &&
                !(own && associators(*port, L"Msvm_ActiveConnection", L"CIM_LANEndpoint").front() == *own)) {
              return refuse(rv::in_use);
            }
          }
          c.connection = converted;
          continue;
        }
        c.props.emplace_back(decl->name, converted);
      }
      if (!add && !c.adapter) {
        return refuse(rv::invalid_parameter);  // no InstanceID: nothing to modify
      }
      if (add) {
        c.instance_id = L"Microsoft:" + text(*vm, L"Name") + L"\\" + new_guid();
      }
      changes->push_back(std::move(c));
    }
    Plan p;
    if (add) {
      std::vector<cim::Scalar> paths;
      for (const auto& c : *changes) {
        paths.emplace_back(cim::make_path(repo.server(), repo.ns(), L"Msvm_SyntheticEthernetPortSettingData",
                                          {{L"InstanceID", c.instance_id, true}})
                               .str());
      }
      p.out = {{L"NewResources", Value::array(cim::CimType::Reference, std::move(paths))}};
    }
    p.apply = [this, id = *vm, add, changes, off] {
      if (!repo.get(id)) {
        return rv::invalid_parameter;
      }
      if (add && !off(id)) {
        return rv::invalid_state;
      }
      for (const auto& c : *changes) {
        if (add) {
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
            a.address = new_mac();
          }
          const auto ports = string_array(c.connection ? &*c.connection : nullptr);
          const auto settings = add_adapter(id, a, ports.empty() ? L"" : ports.front());
          for (const auto& [name, value] : c.props) {
            if (name != L"ElementName" && name != L"StaticMacAddress" && name != L"Address" &&
                name != L"VirtualSystemIdentifiers" && name != L"Connection" && !value.is_null()) {
              repo.set(settings, name, value);
            }
          }
          continue;
        }
        if (!repo.get(c.adapter)) {
          return rv::invalid_parameter;
        }
        for (const auto& [name, value] : c.props) {
          repo.set(c.adapter, name, value);
        }
        if (c.connection) {
          auto conn = c.connection->is_null() ? Value::string_array({L""}) : *c.connection;
          repo.set(c.adapter, L"Connection", conn);
          if (const auto ep = vm_endpoint(c.adapter)) {
            for (auto link : references(*ep, L"Msvm_ActiveConnection", L"Dependent")) {
              repo.remove(link, cim::Cascade::none);
            }
            const auto port = connection_port(conn);
            if (port && references(*port, L"Msvm_ActiveConnection", L"Antecedent").empty()) {
              connect(*port, *ep);
            }
          }
        }
      }
      return rv::ok;
    };
    return p;
  }
  if (method == L"RemoveVirtualSystemResources") {
    const auto vm = ref_param(L"TargetSystem", L"Msvm_ComputerSystem");
    const auto* refs = param(in, L"ResourceSettingData");
    if (!vm || !is_vm(*vm) || !refs || !refs->is_array() || refs->items().empty()) {
      return refuse(rv::invalid_parameter);
    }
    if (!off(*vm)) {
      return refuse(rv::invalid_state);  // no hot-remove either
    }
    const auto adapters = adapters_of(*vm);
    std::vector<InstanceId> doomed;
    for (const auto& r : string_array(refs)) {
      const auto id = repo.find(r);
      if (!id || std::find(adapters.begin(), adapters.end(), *id) == adapters.end()) {
        return refuse(rv::invalid_parameter);
      }
      doomed.push_back(*id);
    }
    Plan p;
    p.apply = [this, vm = *vm, doomed, off] {
      if (!repo.get(vm) || !off(vm)) {
        return rv::invalid_state;
      }
      for (auto id : doomed) {
        if (repo.get(id)) {
          repo.remove(id, cim::Cascade::associations);
        }
      }
      return rv::ok;
    };
    return p;
  }
  if (method == L"RequestStateChange") {
    if (!is_vm(target)) {
      return refuse(rv::not_supported);
    }
    const auto* requested = param(in, L"RequestedState");
    const auto to = requested ? requested->as_uint() : std::nullopt;
    // v1 documents 11 as reserved for future use: not a state it takes.
    if (!to || (*to != 2 && *to != 3 && *to != 10 && *to != 32768 && *to != 32769)) {
      return refuse(rv::invalid_parameter);
    }
    const auto allowed = [to = *to](std::uint64_t from) {
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
    };
    const auto from = number(target, L"EnabledState");
    if (!allowed(from)) {
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
    p.apply = [this, target, to = *to, allowed] {
      if (!repo.get(target)) {
        return rv::invalid_parameter;
      }
      if (!allowed(number(target, L"EnabledState"))) {
        return rv::invalid_state;
      }
      if (to == 2 || to == 10) {
        start_devices(target);  // resuming keeps the devices a paused VM has
        set(target, L"EnabledState", Value::uint16(2));
      } else if (to == 32768) {
        set(target, L"EnabledState", Value::uint16(32768));
      } else {
        stop_devices(target);
        set(target, L"EnabledState", Value::uint16(static_cast<std::uint16_t>(to)));
      }
      return rv::ok;
    };
    return p;
  }
  if (method == L"InitiateShutdown") {
    const auto vm = find_by(L"Msvm_ComputerSystem", L"Name", text(target, L"SystemName"));
    if (!vm) {
      return refuse(rv::failed);
    }
    if (number(*vm, L"EnabledState") != 2) {
      return refuse(rv::invalid_state);
    }
    Plan p;
    // The guest takes its time; RequestedState 4 is v1's "shut down through the shutdown service".
    p.transition = Transition{*vm, 32774, 4};
    p.apply = [this, id = *vm] {
      if (!repo.get(id) || number(id, L"EnabledState") != 2) {
        return rv::invalid_state;
      }
      stop_devices(id);
      set(id, L"EnabledState", Value::uint16(3));
      return rv::ok;
    };
    return p;
  }
  return refuse(rv::not_supported);
}

}  // namespace simhost::provider::detail
