// SimulatedHost: queries, ExecMethod with completion modes and jobs, fault rules, transcript.
#include "simhost/provider/simulated_host.hpp"

#include "host_state.hpp"
#include "simhost/cim/schema.hpp"
#include "simhost/cim/text.hpp"
#include "simhost/wql/parser.hpp"

#include <algorithm>
#include <stdexcept>

namespace simhost::provider {

using cim::InstanceId;
using cim::Value;
using detail::HostState;
namespace rv = detail::rv;
namespace hr = detail::hr;

namespace {

bool matches(const FaultRule& rule, std::wstring_view subject) {
  return rule.match.empty() || cim::fold(subject).find(cim::fold(rule.match)) != std::wstring::npos;
}

// Counts a match of the rule and tells whether it fires now.
bool fires(detail::FaultState& f) {
  if (f.rule.times && f.fired >= *f.rule.times) {
    return false;
  }
  if (++f.matched <= f.rule.after) {
    return false;
  }
  ++f.fired;
  return true;
}

MethodResult returning(std::uint32_t code, cim::PropertyList out = {}) {
  MethodResult r;
  r.out.emplace_back(L"ReturnValue", Value::uint32(code));
  for (auto& p : out) {
    r.out.push_back(std::move(p));
  }
  return r;
}

MethodResult failing(std::int32_t hresult) {
  MethodResult r;
  r.hresult = hresult;
  return r;
}

InstanceId create_job(HostState& s, std::wstring_view method, std::uint16_t state) {
  return s.create(L"Msvm_ConcreteJob", {{L"InstanceID", Value::string(s.new_guid())},
                                        {L"Caption", Value::string(std::wstring(method))},
                                        {L"ElementName", Value::string(std::wstring(method))},
                                        {L"Description", Value::string(L"Running " + std::wstring(method))},
                                        {L"JobState", Value::uint16(state)},
                                        {L"JobStatus", Value::string(state == 2 ? L"Job is new" : L"Job is running")},
                                        {L"PercentComplete", Value::uint16(0)},
                                        {L"ErrorCode", Value::uint16(0)},
                                        {L"Cancellable", Value::boolean(false)},
                                        {L"DeleteOnCompletion", Value::boolean(false)}});
}

}  // namespace

SimulatedHost::SimulatedHost(const HostSpec& spec, std::uint64_t seed) {
  if (auto error = validate(spec)) {
    throw std::invalid_argument(*error);
  }
  state_ = std::make_unique<HostState>(spec, seed);
}

SimulatedHost::~SimulatedHost() = default;

SpecExpected<std::unique_ptr<SimulatedHost>> SimulatedHost::from_json(std::string_view json, std::uint64_t seed) {
  auto spec = parse_host_json(json);
  if (!spec) {
    return SpecExpected<std::unique_ptr<SimulatedHost>>::failure(spec.error());
  }
  return std::make_unique<SimulatedHost>(*spec, seed);
}

const cim::Repository& SimulatedHost::repository() const {
  return state_->repo;
}
const std::wstring& SimulatedHost::computer_name() const {
  return state_->computer_name;
}
HostSpec SimulatedHost::to_spec() const {
  return state_->to_spec();
}

wql::Expected<wql::Result> SimulatedHost::query(std::wstring_view text) {
  auto parsed = state_->queries.find(text);
  if (!parsed) {
    auto fresh = wql::parse(text);
    if (!fresh) {
      return wql::Expected<wql::Result>::failure(fresh.error());
    }
    parsed = std::make_shared<const wql::Query>(std::move(fresh.value()));
    state_->queries.add(text, parsed);
  }
  if (const auto* select = std::get_if<wql::SelectQuery>(parsed.get())) {
    const auto& schema = state_->repo.schema();
    const auto* cls = schema.find(select->class_name);
    if (cls && schema.is_a(*schema.find(L"Msvm_ConcreteJob"), *cls)) {
      advance_jobs();
    }
  }
  return wql::execute(state_->repo, *parsed);
}

void SimulatedHost::advance_jobs() {
  auto& s = *state_;
  for (auto& job : s.jobs) {
    if (!job.running || !s.repo.get(job.id)) {
      continue;
    }
    if (job.passes_seen < job.mode.passes) {
      ++job.passes_seen;
      continue;
    }
    job.running = false;
    std::uint16_t state = job.mode.end_state;
    std::uint16_t code = job.mode.error_code;
    std::wstring description = job.mode.error_description;
    if (state == 7) {
      // The effect runs now; something that changed since the call can still make it fail.
      if (const auto result = job.apply(); result != rv::ok) {
        state = 10;
        code = static_cast<std::uint16_t>(result);
        description = L"The operation could not be completed in the present state of the system.";
      } else {
        code = 0;
        description.clear();
      }
    } else if (description.empty()) {
      description = L"The operation failed.";
    }
    s.set(job.id, L"JobState", Value::uint16(state));
    s.set(job.id, L"ErrorCode", Value::uint16(code));
    s.set(job.id, L"PercentComplete", Value::uint16(100));
    s.set(job.id, L"JobStatus", Value::string(state == 7 ? L"Job completed successfully" : L"Job failed"));
    if (state != 7) {
      s.set(job.id, L"ErrorDescription", Value::string(description));
    }
  }
}

MethodResult SimulatedHost::invoke(std::wstring_view target, std::wstring_view method, const cim::PropertyList& in) {
  auto& s = *state_;
  const auto& schema = s.repo.schema();
  const auto path = cim::ObjectPath::parse(target);
  if (!path) {
    return failing(hr::invalid_object_path);
  }
  const auto* cls = schema.find(path->class_name);
  if (!cls) {
    return failing(hr::invalid_class);
  }
  std::optional<InstanceId> id;
  if (!path->is_class()) {
    id = s.repo.find(*path);
    if (!id) {
      return failing(hr::not_found);
    }
    cls = s.repo.get(*id)->cls;
  }
  const auto* decl = cls->method(method);
  if (!decl) {
    return failing(hr::invalid_method);
  }
  if (!id) {
    return failing(hr::invalid_operation);  // none of these methods is static
  }
  // In-parameters by their declared names and types; a name the signature lacks is refused
  // before the provider sees the call, as WMI does.
  cim::PropertyList params;
  for (const auto& entry : in) {
    const auto& value = entry.second;
    const auto it = std::find_if(decl->in.begin(), decl->in.end(),
                                 [&](const cim::ParameterDecl& p) { return cim::iequals(p.name, entry.first); });
    if (it == decl->in.end()) {
      return failing(hr::invalid_parameter);
    }
    Value converted;
    if (cim::convert(value, it->type.type, it->type.array, converted) != cim::Conversion::ok) {
      return returning(rv::incorrect_type);
    }
    params.emplace_back(it->name, std::move(converted));
  }

  std::optional<std::uint32_t> reported;  // what an applied ReturnValue rule makes the call report
  for (auto& f : s.faults) {
    if (f.rule.call == Call::exec_method && f.rule.return_value && matches(f.rule, decl->name) && fires(f)) {
      if (f.rule.applied) {
        reported = *f.rule.return_value;
        break;
      }
      if (*f.rule.return_value == rv::job_started) {
        const auto job = create_job(s, decl->name, 2);
        s.jobs.push_back({job, {}, 0, {}, false});
        return returning(rv::job_started, {{L"Job", s.ref(job)}});
      }
      return returning(*f.rule.return_value);
    }
  }

  const auto mode = s.completion(decl->name);
  if (mode.kind == Completion::refused) {
    return returning(mode.return_value);
  }
  auto plan = s.plan(*id, decl->name, params);
  if (plan.refusal != rv::ok) {
    return returning(plan.refusal);
  }
  if (mode.kind == Completion::immediate || reported) {
    const auto result = plan.apply();
    if (reported) {
      return returning(*reported, std::move(plan.out));
    }
    return result == rv::ok ? returning(rv::ok, std::move(plan.out)) : returning(result);
  }
  const auto job = create_job(s, decl->name, 4);
  s.jobs.push_back({job, mode, 0, std::move(plan.apply), true});
  plan.out.emplace_back(L"Job", s.ref(job));
  return returning(rv::job_started, std::move(plan.out));
}

std::optional<Fault> SimulatedHost::fault(Call call, std::wstring_view subject) {
  for (auto& f : state_->faults) {
    if (f.rule.call == call && f.rule.hresult && matches(f.rule, subject) && fires(f)) {
      return Fault{*f.rule.hresult, f.rule.last_error};
    }
  }
  return std::nullopt;
}

bool SimulatedHost::recording() const {
  return state_->recording;
}
void SimulatedHost::set_recording(bool on) {
  state_->recording = on;
}
void SimulatedHost::record(CallRecord entry) {
  if (state_->recording)
    state_->transcript.push_back(std::move(entry));
}
const std::vector<CallRecord>& SimulatedHost::transcript() const {
  return state_->transcript;
}

void SimulatedHost::add_fault(FaultRule rule) {
  state_->faults.push_back({std::move(rule), 0, 0});
}
void SimulatedHost::clear_faults() {
  state_->faults.clear();
}

void SimulatedHost::set_completion(std::wstring_view method, CompletionMode mode) {
  auto& modes = state_->behaviour.completion;
  for (auto& [name, m] : modes) {
    if (cim::iequals(name, method)) {
      m = std::move(mode);
      return;
    }
  }
  modes.emplace_back(std::wstring(method), std::move(mode));
}

CompletionMode SimulatedHost::completion(std::wstring_view method) const {
  return state_->completion(method);
}

}  // namespace simhost::provider
