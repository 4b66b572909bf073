// CallObserver: fault rules and the transcript.
#include "simhost/provider/call_observer.hpp"

#include "simhost/cim/text.hpp"

namespace simhost::provider {

namespace {

bool matches(const FaultRule& rule, std::wstring_view subject) {
  return rule.match.empty() || cim::fold(subject).find(cim::fold(rule.match)) != std::wstring::npos;
}

}  // namespace

CallObserver::CallObserver(const std::vector<FaultRule>& rules) {
  for (const auto& r : rules) {
    add_fault(r);
  }
}

// Counts a match of the rule and tells whether it fires now.
bool CallObserver::Rule::fires() {
  if (rule.times && fired >= *rule.times) {
    return false;
  }
  if (++matched <= rule.after) {
    return false;
  }
  ++fired;
  return true;
}

std::optional<Fault> CallObserver::fault_by_rule(Call call, std::wstring_view subject) {
  for (auto& f : rules_) {
    if (f.rule.call == call && f.rule.hresult && matches(f.rule, subject) && f.fires()) {
      return Fault{*f.rule.hresult, f.rule.last_error};
    }
  }
  return std::nullopt;
}

std::optional<FaultRule> CallObserver::method_fault(std::wstring_view method, bool has_job) {
  for (auto& f : rules_) {
    if (f.rule.call == Call::exec_method && (f.rule.return_value || (f.rule.job_result && has_job)) &&
        matches(f.rule, method) && f.fires()) {
      return f.rule;
    }
  }
  return std::nullopt;
}

void CallObserver::add_fault(FaultRule rule) {
  rules_.push_back({std::move(rule), 0, 0});
}
void CallObserver::clear_faults() {
  rules_.clear();
}
std::vector<FaultRule> CallObserver::faults() const {
  std::vector<FaultRule> rules;
  rules.reserve(rules_.size());
  for (const auto& f : rules_) {
    rules.push_back(f.rule);
  }
  return rules;
}

void CallObserver::record(CallRecord entry) {
  if (recording_)
    transcript_.push_back(std::move(entry));
}

}  // namespace simhost::provider
