// SimulatedHost: queries, ExecMethod with completion modes, jobs and ReturnValue fault rules.
#include "simhost/provider/simulated_host.hpp"

#include "host_state.hpp"
#include "simhost/cim/line_aligned.hpp"
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

const HostDescription& valid(const HostDescription& description) {
  if (auto error = validate(description)) {
    throw std::invalid_argument(*error);
  }
  return description;
}

}  // namespace

SimulatedHost::SimulatedHost(const HostDescription& description, std::uint64_t seed)
    : state_(std::make_unique<HostState>(valid(description), seed)), observer_(description.behaviour.faults) {}

SimulatedHost::~SimulatedHost() = default;

LoadResult<std::unique_ptr<SimulatedHost>> SimulatedHost::from_json(std::string_view json, std::uint64_t seed) {
  auto description = parse_host_json(json);
  if (!description) {
    return LoadResult<std::unique_ptr<SimulatedHost>>::failure(description.error());
  }
  return std::make_unique<SimulatedHost>(*description, seed);
}

const cim::Repository& SimulatedHost::repository() const {
  return state_->repo;
}
const std::wstring& SimulatedHost::computer_name() const {
  return state_->computer_name;
}
HostDescription SimulatedHost::to_description() const {
  auto description = state_->to_description();
  description.behaviour.faults = observer_.faults();
  return description;
}

wql::Expected<QueryRun> SimulatedHost::run_query(std::wstring_view text) {
  using Run = wql::Expected<QueryRun>;
  detail::CachedQuery* entry = state_->queries.find(text);
  if (entry == nullptr) {
    auto fresh = wql::parse(text);
    if (!fresh) {
      return Run::failure(fresh.error());
    }
    entry = &state_->queries.add(text, std::make_shared<const wql::Query>(std::move(fresh.value())));
  }
  const cim::Repository& repo = state_->repo;
  // The result the text gives on the repository as it is now; a failure is not kept. A run that
  // an enumerator still holds is left to it, unchanged.
  auto current = [&]() -> std::optional<wql::Error> {
    if (entry->version == repo.version()) {
      return std::nullopt;
    }
    auto result = wql::execute(repo, *entry->parsed);
    if (!result) {
      return result.error();
    }
    if (entry->run.use_count() > 1) {
      auto fresh = cim::make_line_aligned<KeptRun>();
      fresh->text = entry->run->text;
      entry->run = std::move(fresh);
    }
    entry->run->result = std::move(result.value());
    entry->version = repo.version();
    return std::nullopt;
  };
  if (auto error = current()) {
    return Run::failure(*error);
  }
  // What the query saw moves on; it then reports the objects as they are after that tick.
  if (state_->observe(entry->run->result.instances)) {
    if (auto error = current()) {
      return Run::failure(*error);
    }
  }
  state_->queries.look_ahead(repo);
  return QueryRun(entry->run);
}

bool SimulatedHost::observe(cim::InstanceId id) {
  state_->observe({&id, 1});
  return state_->repo.get(id) != nullptr;
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

  const bool has_job = has_job_parameter(decl->name);
  std::optional<std::uint32_t> reported;  // what an applied ReturnValue rule makes the call report
  auto mode = s.completion(decl->name);
  if (const auto rule = observer_.method_fault(decl->name, has_job)) {
    if (rule->job_result) {
      mode.kind = Completion::job;
      mode.end_state = *rule->job_result;
    } else if (rule->applied) {
      reported = *rule->return_value;
    } else if (*rule->return_value == rv::job_started && has_job) {
      // A job that never starts: it stays new and nothing observes it along.
      return returning(rv::job_started, {{L"Job", s.ref(s.create_job(decl->name, 2, {}))}});
    } else {
      return returning(*rule->return_value);
    }
  }

  if (mode.kind == Completion::refused) {
    return returning(mode.return_value);
  }
  auto plan = s.plan(*id, decl->name, params);
  if (plan.refusal != rv::ok) {
    return returning(plan.refusal);
  }
  const bool as_job = mode.kind == Completion::job && has_job && !reported;
  if (!as_job && !plan.transition) {
    const auto result = plan.apply();
    if (reported) {
      return returning(*reported, std::move(plan.out));
    }
    return result == rv::ok ? returning(rv::ok, std::move(plan.out)) : returning(result);
  }
  if (!as_job && has_job) {
    // A state change that completes at once: the VM goes straight to its new state.
    const auto result = plan.apply();
    if (result == rv::ok) {
      s.set(plan.transition->vm, L"RequestedState", Value::uint16(plan.transition->requested));
    }
    if (reported) {
      return returning(*reported, std::move(plan.out));
    }
    return returning(result);
  }
  // A job, or a change without a job (a guest shutdown) that takes its time all the same.
  detail::Activity activity;
  activity.transition = plan.transition;
  activity.mode = mode;
  activity.apply = std::move(plan.apply);
  if (as_job) {
    activity.job = s.create_job(decl->name, mode.running_state, mode);
    plan.out.emplace_back(L"Job", s.ref(activity.job));
  }
  s.begin(std::move(activity));
  return returning(reported.value_or(as_job ? rv::job_started : rv::ok), std::move(plan.out));
}

ResultOrder SimulatedHost::result_order() const {
  return state_->behaviour.result_order;
}

void SimulatedHost::set_completion(std::wstring_view method, CompletionMode mode) {
  if (mode.kind == Completion::job && !has_job_parameter(method)) {
    throw std::invalid_argument(cim::narrow(method) + " has no Job out-parameter, so it cannot run as a job");
  }
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
