// Host files: JSON <-> HostDescription, with validation that names the field at fault.
#include "simhost/provider/host_description.hpp"

#include "simhost/cim/schema.hpp"
#include "simhost/cim/text.hpp"
#include "utf8.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>

namespace simhost::provider {
namespace {

using Json = nlohmann::ordered_json;

struct DescriptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& field, const std::string& what) {
  throw DescriptionError(field + ": " + what);
}

std::string idx(const std::string& base, std::size_t i) {
  return base + "[" + std::to_string(i) + "]";
}
std::string dot(const std::string& base, std::string_view key) {
  return base.empty() ? std::string(key) : base + "." + std::string(key);
}
std::string u8(std::wstring_view s) {
  return detail::to_utf8(s);
}

bool is_hex(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

// 8-4-4-4-12 hexadecimal digits.
bool is_guid(std::wstring_view s) {
  if (s.size() != 36) {
    return false;
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != L'-' : !is_hex(s[i])) {
      return false;
    }
  }
  return true;
}

std::wstring upper(std::wstring s) {
  for (auto& c : s) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return s;
}

// One JSON object of the file: refuses keys it does not know, so a typo is an error.
class Fields {
 public:
  Fields(const Json& j, std::string path, std::initializer_list<std::string_view> known)
      : j_(j), path_(std::move(path)) {
    if (!j.is_object()) {
      fail(path_.empty() ? "host" : path_, "expected an object");
    }
    for (const auto& [key, value] : j.items()) {
      if (std::find(known.begin(), known.end(), key) == known.end()) {
        fail(dot(path_, key), "unknown field");
      }
    }
  }

  const std::string& path() const { return path_; }
  std::string field(std::string_view key) const { return dot(path_, key); }
  const Json* find(std::string_view key) const {
    auto it = j_.find(std::string(key));
    return it == j_.end() ? nullptr : &*it;
  }

  std::wstring text(std::string_view key, std::optional<std::wstring> fallback = std::nullopt) const {
    const Json* v = find(key);
    if (!v) {
      if (!fallback) {
        fail(field(key), "missing");
      }
      return *fallback;
    }
    if (!v->is_string()) {
      fail(field(key), "expected a string");
    }
    auto w = detail::from_utf8(v->get_ref<const std::string&>());
    if (!w) {
      fail(field(key), "not valid UTF-8");
    }
    return *w;
  }

  std::uint64_t number(std::string_view key, std::uint64_t fallback, std::uint64_t max) const {
    const Json* v = find(key);
    if (!v) {
      return fallback;
    }
    if (!v->is_number_unsigned() && !(v->is_number_integer() && v->get<std::int64_t>() >= 0)) {
      fail(field(key), "expected a non-negative integer");
    }
    const auto n = v->get<std::uint64_t>();
    if (n > max) {
      fail(field(key), "must be at most " + std::to_string(max));
    }
    return n;
  }

  bool flag(std::string_view key, bool fallback) const {
    const Json* v = find(key);
    if (!v) {
      return fallback;
    }
    if (!v->is_boolean()) {
      fail(field(key), "expected true or false");
    }
    return v->get<bool>();
  }

  // An optional array of objects, each read by `each(fields-path, json)`.
  template <class F>
  void array(std::string_view key, F each) const {
    const Json* v = find(key);
    if (!v) {
      return;
    }
    if (!v->is_array()) {
      fail(field(key), "expected an array");
    }
    for (std::size_t i = 0; i < v->size(); ++i) {
      each(idx(field(key), i), (*v)[i]);
    }
  }

 private:
  const Json& j_;
  std::string path_;
};

const std::array<std::pair<Call, std::wstring_view>, 12> kCalls{{
    {Call::co_initialize, L"CoInitializeEx"},
    {Call::connect_server, L"ConnectServer"},
    {Call::exec_query, L"ExecQuery"},
    {Call::next, L"Next"},
    {Call::get, L"Get"},
    {Call::put, L"Put"},
    {Call::get_object, L"GetObject"},
    {Call::get_method, L"GetMethod"},
    {Call::spawn_instance, L"SpawnInstance"},
    {Call::exec_method, L"ExecMethod"},
    {Call::get_text, L"GetText"},
    {Call::co_create_instance, L"CoCreateInstance"},
}};

// A method of that name in any class of the schema.
const cim::MethodDecl* find_method(std::wstring_view name) {
  for (const auto& cls : cim::virtualization_schema().classes()) {
    for (const auto& m : cls->methods()) {
      if (cim::iequals(m.name, name)) {
        return &m;
      }
    }
  }
  return nullptr;
}

// The schema's spelling of a method name, if any class has it.
std::optional<std::wstring> known_method(std::wstring_view name) {
  const auto* m = find_method(name);
  return m ? std::optional<std::wstring>(m->name) : std::nullopt;
}

// JobState values as host files name them (CIM_ConcreteJob).
const std::array<std::pair<std::uint16_t, std::wstring_view>, 10> kJobStates{{
    {2, L"new"},
    {3, L"starting"},
    {4, L"running"},
    {5, L"suspended"},
    {6, L"shuttingDown"},
    {7, L"completed"},
    {8, L"terminated"},
    {9, L"killed"},
    {10, L"exception"},
    {11, L"service"},
}};

bool ends_job(std::uint16_t state) {
  return state >= 7 && state <= 10;
}

std::wstring_view job_state_name(std::uint16_t state) {
  for (const auto& [n, name] : kJobStates) {
    if (n == state) {
      return name;
    }
  }
  return L"";
}

std::uint16_t read_job_state(const Fields& f, std::string_view key, std::uint16_t fallback, bool may_end) {
  const auto name = f.text(key, std::wstring(job_state_name(fallback)));
  for (const auto& [n, known] : kJobStates) {
    if (known == name && (may_end || !ends_job(n))) {
      return n;
    }
  }
  fail(f.field(key), may_end ? "expected a JobState name: \"completed\", \"terminated\", \"killed\", \"exception\", "
                               "\"new\", \"starting\", \"running\", \"suspended\", \"shuttingDown\" or \"service\""
                             : "expected \"new\", \"starting\", \"running\", \"suspended\", \"shuttingDown\" or "
                               "\"service\"");
}

// How long it runs: "ticks" of the host clock or "milliseconds" of the wall clock, not both.
void read_duration(const Fields& f, CompletionMode& m) {
  if (f.find("ticks") && f.find("milliseconds")) {
    fail(f.field("milliseconds"), "give either ticks or milliseconds");
  }
  m.ticks = static_cast<std::uint32_t>(f.number("ticks", m.ticks, 1000000));
  if (f.find("milliseconds")) {
    m.milliseconds = static_cast<std::uint32_t>(f.number("milliseconds", 0, 3600000));
  }
}

CompletionMode read_completion(const std::string& path, const Json& j) {
  if (!j.is_object()) {
    fail(path, "expected an object");
  }
  const Json* mode = j.contains("mode") ? &j["mode"] : nullptr;
  if (!mode || !mode->is_string()) {
    fail(dot(path, "mode"), "expected \"immediate\", \"job\" or \"refuse\"");
  }
  CompletionMode m;
  const auto& kind = mode->get_ref<const std::string&>();
  if (kind == "immediate") {
    Fields f(j, path, {"mode", "ticks", "milliseconds"});
    read_duration(f, m);
  } else if (kind == "job") {
    Fields f(j, path,
             {"mode", "ticks", "milliseconds", "runningState", "result", "errorCode", "errorDescription",
              "timeBeforeRemoval"});
    m.kind = Completion::job;
    read_duration(f, m);
    m.running_state = read_job_state(f, "runningState", m.running_state, false);
    m.end_state = read_job_state(f, "result", m.end_state, true);
    m.error_code = static_cast<std::uint16_t>(f.number("errorCode", m.error_code, 65535));
    m.error_description = f.text("errorDescription", L"");
    m.time_before_removal =
        static_cast<std::uint32_t>(f.number("timeBeforeRemoval", m.time_before_removal, 0xFFFFFFFF));
  } else if (kind == "refuse") {
    Fields f(j, path, {"mode", "returnValue"});
    m.kind = Completion::refused;
    if (!f.find("returnValue")) {
      fail(f.field("returnValue"), "missing");
    }
    m.return_value = static_cast<std::uint32_t>(f.number("returnValue", 0, 0xFFFFFFFF));
    if (m.return_value == 0 || m.return_value == 4096) {
      fail(f.field("returnValue"), "a refusal cannot return 0 or 4096");
    }
  } else {
    fail(dot(path, "mode"), "expected \"immediate\", \"job\" or \"refuse\"");
  }
  return m;
}

// What is wrong with a rule's kind, if anything: the field at fault (empty for the rule itself) and why.
std::optional<std::pair<std::string, std::string>> kind_error(const FaultRule& r) {
  if (r.hresult.has_value() + r.return_value.has_value() + r.job_result.has_value() != 1) {
    return std::pair<std::string, std::string>{"", "needs exactly one of hresult, returnValue and jobResult"};
  }
  if (r.return_value && r.call != Call::exec_method) {
    return std::pair<std::string, std::string>{"returnValue", "only ExecMethod returns a ReturnValue"};
  }
  if (r.job_result && (r.call != Call::exec_method || !ends_job(*r.job_result))) {
    return std::pair<std::string, std::string>{"jobResult", "only ExecMethod starts a job, which ends in 7-10"};
  }
  return std::nullopt;
}

FaultRule read_fault(const std::string& path, const Json& j) {
  Fields f(j, path, {"call", "match", "hresult", "returnValue", "jobResult", "times", "after", "lastError", "applied"});
  FaultRule r;
  const auto call = call_from_name(f.text("call"));
  if (!call) {
    fail(f.field("call"), "unknown call");
  }
  r.call = *call;
  r.match = f.text("match", L"");
  if (const Json* h = f.find("hresult")) {
    std::uint64_t code = 0;
    if (h->is_string()) {
      const auto& s = h->get_ref<const std::string&>();
      std::size_t used = 0;
      try {
        code = std::stoull(s, &used, 0);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != s.size()) {
        fail(f.field("hresult"), "expected a number such as \"0x80041017\"");
      }
    } else if (h->is_number_unsigned()) {
      code = h->get<std::uint64_t>();
    } else if (h->is_number_integer()) {
      code = static_cast<std::uint32_t>(static_cast<std::int32_t>(h->get<std::int64_t>()));
    } else {
      fail(f.field("hresult"), "expected a number such as \"0x80041017\"");
    }
    if (code > 0xFFFFFFFFull) {
      fail(f.field("hresult"), "does not fit 32 bits");
    }
    r.hresult = static_cast<std::int32_t>(static_cast<std::uint32_t>(code));
  }
  if (f.find("returnValue")) {
    r.return_value = static_cast<std::uint32_t>(f.number("returnValue", 0, 0xFFFFFFFF));
  }
  if (f.find("jobResult")) {
    r.job_result = read_job_state(f, "jobResult", 7, true);
  }
  if (const auto error = kind_error(r)) {
    fail(error->first.empty() ? path : f.field(error->first), error->second);
  }
  if (const Json* t = f.find("times")) {
    if (t->is_string() && t->get_ref<const std::string&>() == "once") {
      r.times = 1;
    } else if (t->is_string() && t->get_ref<const std::string&>() == "always") {
      r.times = std::nullopt;
    } else if (t->is_number_unsigned() && t->get<std::uint64_t>() >= 1 && t->get<std::uint64_t>() <= 0xFFFFFFFF) {
      r.times = static_cast<std::uint32_t>(t->get<std::uint64_t>());
    } else {
      fail(f.field("times"), "expected \"once\", \"always\" or a count of at least 1");
    }
  }
  r.after = static_cast<std::uint32_t>(f.number("after", 0, 0xFFFFFFFF));
  if (f.find("lastError")) {
    if (!r.hresult) {
      fail(f.field("lastError"), "goes with hresult");
    }
    r.last_error = static_cast<std::uint32_t>(f.number("lastError", 0, 0xFFFFFFFF));
  }
  if (const Json* applied = f.find("applied")) {
    if (!applied->is_boolean()) {
      fail(f.field("applied"), "expected true or false");
    }
    if (!r.return_value) {
      fail(f.field("applied"), "goes with returnValue");
    }
    r.applied = applied->get<bool>();
  }
  return r;
}

HostDescription read_description(const Json& root) {
  Fields top(root, "", {"computerName", "externalPorts", "switches", "vms", "behaviour"});
  HostDescription description;
  description.computer_name = top.text("computerName", L"HYPERV-HOST");

  std::set<std::wstring, cim::ILess> bound_by_default;
  top.array("externalPorts", [&](const std::string& path, const Json& j) {
    Fields f(j, path, {"deviceId", "elementName", "mtu", "healthState", "bound"});
    ExternalPortDescription p;
    p.device_id = upper(f.text("deviceId"));
    p.element_name = f.text("elementName", L"Ethernet Adapter");
    p.mtu = f.number("mtu", 1500, 0xFFFFFFFFull);
    p.health_state = static_cast<std::uint16_t>(f.number("healthState", 5, 65535));
    p.bound = f.flag("bound", false);
    if (!f.find("bound")) {
      bound_by_default.insert(p.device_id);
    }
    description.external_ports.push_back(std::move(p));
  });
  top.array("switches", [&](const std::string& path, const Json& j) {
    Fields f(j, path, {"name", "elementName", "external", "internal", "ports"});
    SwitchDescription s;
    s.name = f.text("name");
    s.element_name = f.text("elementName", L"New Virtual Network");
    s.external = upper(f.text("external", L""));
    s.internal = f.flag("internal", false);
    f.array("ports", [&](const std::string& ppath, const Json& pj) {
      Fields pf(pj, ppath, {"name", "elementName"});
      s.ports.push_back({pf.text("name"), pf.text("elementName", L"Dynamic Ethernet Switch Port")});
    });
    description.switches.push_back(std::move(s));
  });
  // A port a switch uses is bound unless the file says otherwise (and then validation objects).
  for (auto& p : description.external_ports) {
    if (bound_by_default.count(p.device_id)) {
      p.bound = std::any_of(description.switches.begin(), description.switches.end(),
                            [&](const SwitchDescription& s) { return cim::iequals(s.external, p.device_id); });
    }
  }
  top.array("vms", [&](const std::string& path, const Json& j) {
    Fields f(j, path, {"name", "elementName", "enabledState", "healthState", "shutdownComponent", "adapters"});
    VmDescription vm;
    vm.name = upper(f.text("name"));
    vm.element_name = f.text("elementName", L"New Virtual Machine");
    vm.enabled_state = static_cast<std::uint16_t>(f.number("enabledState", 3, 65535));
    vm.health_state = static_cast<std::uint16_t>(f.number("healthState", 5, 65535));
    vm.shutdown_component = f.flag("shutdownComponent", true);
    f.array("adapters", [&](const std::string& apath, const Json& aj) {
      Fields af(
          aj, apath,
          {"instanceId", "elementName", "address", "staticMacAddress", "virtualSystemIdentifiers", "port", "switch"});
      AdapterDescription a;
      a.instance_id = upper(af.text("instanceId"));
      a.element_name = af.text("elementName", L"Network Adapter");
      a.address = upper(af.text("address", L""));
      a.static_mac = af.flag("staticMacAddress", false);
      if (const Json* ids = af.find("virtualSystemIdentifiers")) {
        if (!ids->is_array()) {
          fail(af.field("virtualSystemIdentifiers"), "expected an array of strings");
        }
        for (std::size_t i = 0; i < ids->size(); ++i) {
          const auto& e = (*ids)[i];
          auto w = e.is_string() ? detail::from_utf8(e.get_ref<const std::string&>()) : std::nullopt;
          if (!w) {
            fail(idx(af.field("virtualSystemIdentifiers"), i), "expected a string");
          }
          a.virtual_system_identifiers.push_back(*w);
        }
      }
      a.port = af.text("port", L"");
      a.switch_name = af.text("switch", L"");
      vm.adapters.push_back(std::move(a));
    });
    description.vms.push_back(std::move(vm));
  });
  if (const Json* b = top.find("behaviour")) {
    Fields f(*b, "behaviour", {"completion", "faults", "capabilitiesOrder", "resultOrder", "resultSeed"});
    if (const Json* c = f.find("completion")) {
      if (!c->is_object()) {
        fail("behaviour.completion", "expected an object keyed by method name");
      }
      for (const auto& [key, value] : c->items()) {
        const std::string path = "behaviour.completion." + key;
        const auto wkey = detail::from_utf8(key);
        const auto method = wkey ? known_method(*wkey) : std::nullopt;
        if (!method) {
          fail(path, "unknown method");
        }
        description.behaviour.completion.emplace_back(*method, read_completion(path, value));
      }
    }
    f.array("faults", [&](const std::string& path, const Json& j) {
      description.behaviour.faults.push_back(read_fault(path, j));
    });
    const auto order = f.text("capabilitiesOrder", L"defaultFirst");
    if (order != L"defaultFirst" && order != L"defaultLast") {
      fail("behaviour.capabilitiesOrder", "expected \"defaultFirst\" or \"defaultLast\"");
    }
    description.behaviour.default_settings_first = order == L"defaultFirst";
    const auto results = f.text("resultOrder", L"creation");
    if (results == L"reversed") {
      description.behaviour.result_order.kind = ResultOrder::Kind::reversed;
    } else if (results == L"shuffled") {
      description.behaviour.result_order.kind = ResultOrder::Kind::shuffled;
    } else if (results != L"creation") {
      fail("behaviour.resultOrder", "expected \"creation\", \"reversed\" or \"shuffled\"");
    }
    description.behaviour.result_order.seed = f.number("resultSeed", 0, ~std::uint64_t{0});
  }
  return description;
}

std::string hex32(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

bool valid_health(std::uint16_t h) {
  return h == 5 || h == 20 || h == 25;
}

void check(const HostDescription& description) {
  // A NetBIOS-style name: it appears unquoted in every object path.
  if (description.computer_name.empty() || description.computer_name.size() > 63 ||
      !std::all_of(description.computer_name.begin(), description.computer_name.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'-' ||
               c == L'_';
      })) {
    fail("computerName", "expected 1 to 63 letters, digits, hyphens or underscores");
  }
  std::map<std::wstring, std::string, cim::ILess> external_at;
  for (std::size_t i = 0; i < description.external_ports.size(); ++i) {
    const auto& p = description.external_ports[i];
    const auto path = idx("externalPorts", i);
    const auto& id = p.device_id;
    if (id.size() != 38 || id.front() != L'{' || id.back() != L'}' || !is_guid(std::wstring_view(id).substr(1, 36))) {
      fail(dot(path, "deviceId"), "expected a GUID in braces");
    }
    if (!external_at.emplace(id, path).second) {
      fail(dot(path, "deviceId"), "duplicate of " + external_at[id]);
    }
    if (!valid_health(p.health_state)) {
      fail(dot(path, "healthState"), "expected 5, 20 or 25");
    }
  }
  std::map<std::wstring, std::string, cim::ILess> switch_at, port_at, uplink_of;
  std::map<std::wstring, int, cim::ILess> element_names;
  for (std::size_t i = 0; i < description.switches.size(); ++i) {
    const auto& s = description.switches[i];
    const auto path = idx("switches", i);
    if (s.name.empty()) {
      fail(dot(path, "name"), "must not be empty");
    }
    if (!switch_at.emplace(s.name, path).second) {
      fail(dot(path, "name"), "duplicate of " + switch_at[s.name]);
    }
    ++element_names[s.element_name];
    if (!s.external.empty()) {
      if (s.internal) {
        fail(dot(path, "internal"), "a switch has either an external or an internal port");
      }
      auto it = external_at.find(s.external);
      if (it == external_at.end()) {
        fail(dot(path, "external"), "no external port has deviceId " + u8(s.external));
      }
      if (!uplink_of.emplace(s.external, path).second) {
        fail(dot(path, "external"), "already used by " + uplink_of[s.external]);
      }
      const auto& port =
          *std::find_if(description.external_ports.begin(), description.external_ports.end(),
                        [&](const ExternalPortDescription& e) { return cim::iequals(e.device_id, s.external); });
      if (!port.bound) {
        fail(dot(it->second, "bound"), "the port is connected to " + path + " and must be bound");
      }
    }
    for (std::size_t k = 0; k < s.ports.size(); ++k) {
      const auto ppath = idx(dot(path, "ports"), k);
      if (s.ports[k].name.empty()) {
        fail(dot(ppath, "name"), "must not be empty");
      }
      if (!port_at.emplace(s.ports[k].name, ppath).second) {
        fail(dot(ppath, "name"), "duplicate of " + port_at[s.ports[k].name]);
      }
    }
  }
  std::map<std::wstring, std::string, cim::ILess> vm_at, adapter_at, address_at, port_user;
  for (std::size_t i = 0; i < description.vms.size(); ++i) {
    const auto& vm = description.vms[i];
    const auto path = idx("vms", i);
    if (!is_guid(vm.name)) {
      fail(dot(path, "name"), "expected a GUID");
    }
    if (!vm_at.emplace(vm.name, path).second) {
      fail(dot(path, "name"), "duplicate of " + vm_at[vm.name]);
    }
    if (vm.enabled_state != 2 && vm.enabled_state != 3 && vm.enabled_state != 32768 && vm.enabled_state != 32769) {
      fail(dot(path, "enabledState"), "expected 2 (running), 3 (off), 32768 (paused) or 32769 (saved)");
    }
    if (!valid_health(vm.health_state)) {
      fail(dot(path, "healthState"), "expected 5, 20 or 25");
    }
    for (std::size_t k = 0; k < vm.adapters.size(); ++k) {
      const auto& a = vm.adapters[k];
      const auto apath = idx(dot(path, "adapters"), k);
      if (!is_guid(a.instance_id)) {
        fail(dot(apath, "instanceId"), "expected a GUID");
      }
      if (!adapter_at.emplace(a.instance_id, apath).second) {
        fail(dot(apath, "instanceId"), "duplicate of " + adapter_at[a.instance_id]);
      }
      if (!a.address.empty()) {
        if (a.address.size() != 12 || !std::all_of(a.address.begin(), a.address.end(), is_hex)) {
          fail(dot(apath, "address"), "expected 12 hexadecimal digits");
        }
        if (!address_at.emplace(a.address, apath).second) {
          fail(dot(apath, "address"), "duplicate of " + address_at[a.address]);
        }
      }
      if (!a.port.empty() && !a.switch_name.empty()) {
        fail(dot(apath, "switch"), "an adapter names either a port or a switch");
      }
      if (!a.port.empty()) {
        if (!port_at.count(a.port)) {
          fail(dot(apath, "port"), "no switch has a port named " + u8(a.port));
        }
        if (!port_user.emplace(a.port, apath).second) {
          fail(dot(apath, "port"), "already connected to " + port_user[a.port]);
        }
      }
      if (!a.switch_name.empty()) {
        const auto it = element_names.find(a.switch_name);
        if (it == element_names.end()) {
          fail(dot(apath, "switch"), "no switch has the elementName " + u8(a.switch_name));
        }
        if (it->second > 1) {
          fail(dot(apath, "switch"), "more than one switch has the elementName " + u8(a.switch_name));
        }
      }
    }
  }
  std::set<std::wstring, cim::ILess> modes;
  for (const auto& [method, mode] : description.behaviour.completion) {
    const auto path = "behaviour.completion." + u8(method);
    if (!known_method(method)) {
      fail(path, "unknown method");
    }
    if (!modes.insert(method).second) {
      fail(path, "given twice");
    }
    if (mode.kind == Completion::job && !has_job_parameter(method)) {
      fail(dot(path, "mode"), "the method has no Job out-parameter, so it cannot run as a job");
    }
    if (job_state_name(mode.end_state).empty()) {
      fail(dot(path, "result"), "not a JobState");
    }
    if (job_state_name(mode.running_state).empty() || ends_job(mode.running_state)) {
      fail(dot(path, "runningState"), "a running job shows 2-6 or 11");
    }
  }
  for (std::size_t i = 0; i < description.behaviour.faults.size(); ++i) {
    const auto& r = description.behaviour.faults[i];
    const auto path = idx("behaviour.faults", i);
    if (const auto error = kind_error(r)) {
      fail(error->first.empty() ? path : dot(path, error->first), error->second);
    }
    if (r.last_error && !r.hresult) {
      fail(dot(path, "lastError"), "goes with hresult");
    }
    if (r.applied && !r.return_value) {
      fail(dot(path, "applied"), "goes with returnValue");
    }
    if (r.times && *r.times == 0) {
      fail(dot(path, "times"), "expected \"once\", \"always\" or a count of at least 1");
    }
  }
}

Json completion_json(const CompletionMode& m) {
  Json j;
  const auto duration = [&] {
    if (m.milliseconds) {
      j["milliseconds"] = *m.milliseconds;
    } else {
      j["ticks"] = m.ticks;
    }
  };
  switch (m.kind) {
    case Completion::immediate:
      j["mode"] = "immediate";
      duration();
      break;
    case Completion::job:
      j["mode"] = "job";
      duration();
      j["runningState"] = u8(job_state_name(m.running_state));
      j["result"] = u8(job_state_name(m.end_state));
      j["errorCode"] = m.error_code;
      j["errorDescription"] = u8(m.error_description);
      j["timeBeforeRemoval"] = m.time_before_removal;
      break;
    case Completion::refused:
      j["mode"] = "refuse";
      j["returnValue"] = m.return_value;
      break;
  }
  return j;
}

}  // namespace

std::wstring_view call_name(Call call) noexcept {
  for (const auto& [c, name] : kCalls) {
    if (c == call) {
      return name;
    }
  }
  return L"";
}

std::optional<Call> call_from_name(std::wstring_view name) noexcept {
  for (const auto& [c, n] : kCalls) {
    if (cim::iequals(n, name)) {
      return c;
    }
  }
  return std::nullopt;
}

std::optional<std::string> validate(const HostDescription& description) {
  try {
    check(description);
  } catch (const DescriptionError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

bool has_job_parameter(std::wstring_view method) {
  const auto* m = find_method(method);
  return m && std::any_of(m->out.begin(), m->out.end(),
                          [](const cim::ParameterDecl& p) { return cim::iequals(p.name, L"Job"); });
}

LoadResult<HostDescription> parse_host_json(std::string_view text) {
  Json root;
  try {
    root = Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    // A syntax error, or out_of_range for a number beyond the range of a double.
    return LoadResult<HostDescription>::failure(std::string("host file is not valid JSON: ") + e.what());
  }
  try {
    auto description = read_description(root);
    check(description);
    return description;
  } catch (const DescriptionError& e) {
    return LoadResult<HostDescription>::failure(e.what());
  }
}

std::string to_json(const HostDescription& description) {
  Json root;
  root["computerName"] = u8(description.computer_name);
  root["externalPorts"] = Json::array();
  for (const auto& p : description.external_ports) {
    root["externalPorts"].push_back(Json{{"deviceId", u8(p.device_id)},
                                         {"elementName", u8(p.element_name)},
                                         {"mtu", p.mtu},
                                         {"healthState", p.health_state},
                                         {"bound", p.bound}});
  }
  root["switches"] = Json::array();
  for (const auto& s : description.switches) {
    Json j{{"name", u8(s.name)}, {"elementName", u8(s.element_name)}};
    if (!s.external.empty()) {
      j["external"] = u8(s.external);
    }
    if (s.internal) {
      j["internal"] = true;
    }
    j["ports"] = Json::array();
    for (const auto& p : s.ports) {
      j["ports"].push_back(Json{{"name", u8(p.name)}, {"elementName", u8(p.element_name)}});
    }
    root["switches"].push_back(std::move(j));
  }
  root["vms"] = Json::array();
  for (const auto& vm : description.vms) {
    Json j{{"name", u8(vm.name)},
           {"elementName", u8(vm.element_name)},
           {"enabledState", vm.enabled_state},
           {"healthState", vm.health_state},
           {"shutdownComponent", vm.shutdown_component}};
    j["adapters"] = Json::array();
    for (const auto& a : vm.adapters) {
      Json aj{{"instanceId", u8(a.instance_id)}, {"elementName", u8(a.element_name)}};
      if (!a.address.empty()) {
        aj["address"] = u8(a.address);
      }
      aj["staticMacAddress"] = a.static_mac;
      if (!a.virtual_system_identifiers.empty()) {
        aj["virtualSystemIdentifiers"] = Json::array();
        for (const auto& id : a.virtual_system_identifiers) {
          aj["virtualSystemIdentifiers"].push_back(u8(id));
        }
      }
      if (!a.port.empty()) {
        aj["port"] = u8(a.port);
      }
      if (!a.switch_name.empty()) {
        aj["switch"] = u8(a.switch_name);
      }
      j["adapters"].push_back(std::move(aj));
    }
    root["vms"].push_back(std::move(j));
  }
  Json b;
  b["completion"] = Json::object();
  for (const auto& [method, mode] : description.behaviour.completion) {
    b["completion"][u8(method)] = completion_json(mode);
  }
  b["faults"] = Json::array();
  for (const auto& r : description.behaviour.faults) {
    Json j{{"call", u8(call_name(r.call))}, {"match", u8(r.match)}};
    if (r.hresult) {
      j["hresult"] = hex32(static_cast<std::uint32_t>(*r.hresult));
    } else if (r.return_value) {
      j["returnValue"] = *r.return_value;
    } else if (r.job_result) {
      j["jobResult"] = u8(job_state_name(*r.job_result));
    }
    if (!r.times) {
      j["times"] = "always";
    } else if (*r.times == 1) {
      j["times"] = "once";
    } else {
      j["times"] = *r.times;
    }
    j["after"] = r.after;
    if (r.last_error) {
      j["lastError"] = *r.last_error;
    }
    if (r.applied) {
      j["applied"] = true;
    }
    b["faults"].push_back(std::move(j));
  }
  b["capabilitiesOrder"] = description.behaviour.default_settings_first ? "defaultFirst" : "defaultLast";
  const auto& results = description.behaviour.result_order;
  b["resultOrder"] = results.kind == ResultOrder::Kind::creation   ? "creation"
                     : results.kind == ResultOrder::Kind::reversed ? "reversed"
                                                                   : "shuffled";
  if (results.seed != 0) {
    b["resultSeed"] = results.seed;
  }
  root["behaviour"] = std::move(b);
  return root.dump(2) + "\n";
}

HostDescription default_host_description() {
  HostDescription h;
  h.computer_name = L"HV-LAB01";
  const std::wstring bound_nic = L"{6E1C1F2A-6B5D-4C4E-9A43-2F4B1D7C8E01}";
  h.external_ports = {
      {bound_nic, L"Broadcom BCM5709C NetXtreme II GigE (NDIS VBD Client) #41", 1500, 5, true},
      {L"{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}", L"Intel(R) PRO/1000 PT Dual Port Server Adapter", 1500, 5, false},
  };
  const std::wstring ext_port1 = L"3F0A6D2E-8B41-4C7A-9E15-6D2B8C4F1A03";
  const std::wstring ext_port2 = L"C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22";
  const std::wstring ext_port3 = L"5D9B3C1A-7E26-48F0-A4D8-0B6C2E9F7A41";
  const std::wstring int_port1 = L"E4A7C2F9-1D38-4B6E-8F05-7C3A9D1B2E60";
  h.switches = {
      {L"9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27",
       L"External Network",
       bound_nic,
       false,
       {{ext_port1, L"Dynamic Ethernet Switch Port"},
        {ext_port2, L"Dynamic Ethernet Switch Port"},
        {ext_port3, L"Dynamic Ethernet Switch Port"}}},
      {L"2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852",
       L"Internal Network",
       L"",
       true,
       {{int_port1, L"Dynamic Ethernet Switch Port"}}},
  };
  h.vms = {
      {L"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97",
       L"WEB01",
       2,
       5,
       true,
       {{L"1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", L"Network Adapter", L"00155D010A01", false, {}, ext_port1, L""},
        {L"8C3F1A6D-5B94-4E27-A1D0-6F9B3E2C7D48", L"Network Adapter", L"00155D010A02", false, {}, int_port1, L""}}},
      {L"7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16",
       L"BUILD-AGENT",
       2,
       5,
       false,
       {{L"D2A9E5C1-7F36-4B08-9C4E-8B1D3F6A0E52", L"Network Adapter", L"00155D010A03", false, {}, ext_port2, L""}}},
      {L"B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23",
       L"SQL01",
       3,
       5,
       true,
       {{L"6A0D3F8B-2E57-4C1A-B9F4-3D8E1C7A5B90", L"Network Adapter", L"00155D010A04", false, {}, ext_port3, L""},
        {L"F1C7B4E2-9A63-4D85-8C0B-5E2A7D9F3C16", L"Legacy Network", L"00155D010A05", true, {}, L"", L""}}},
      {L"E9B3D6A1-8F24-4C7E-A5D1-7B0E3F9C2A68",
       L"TEST-CLIENT",
       32769,
       5,
       true,
       {{L"3B8E1D5A-6C92-4F07-B4A3-9D2F5C8E1B74", L"Network Adapter", L"00155D010A06", false, {}, L"", L""}}},
      {L"0C6A4F2D-3E71-4B98-8D5C-A1F7B3E9D024",
       L"PRINT-SRV",
       32768,
       20,
       true,
       {{L"9D5C2A8F-4B13-4E6D-A7F0-2C8B6E1D4A39",
         L"Network Adapter",
         L"00155D010A07",
         false,
         {},
         L"",
         L"Internal Network"}}},
  };
  return h;
}

}  // namespace simhost::provider
