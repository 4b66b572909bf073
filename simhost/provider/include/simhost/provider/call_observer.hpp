// What watches the calls the COM facade passes on, apart from the model: the fault rules that make
// chosen calls fail and the transcript of what was called. The model never sees either.
#pragma once

#include "simhost/provider/host.hpp"
#include "simhost/provider/host_description.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace simhost::provider {

class CallObserver {
 public:
  explicit CallObserver(const std::vector<FaultRule>& rules = {});

  // What a fault rule forces on this call, if one matches (a rule that fires once is used up).
  // Never matches when no rule is set.
  std::optional<Fault> fault(Call call, std::wstring_view subject) {
    return rules_.empty() ? std::nullopt : fault_by_rule(call, subject);
  }
  // The ReturnValue or job rule for ExecMethod of `method` that fires now, if any. A job rule
  // passes over methods that start no job (`has_job` false), neither firing nor counting them, so
  // that a rule matching every method waits for one it can act on.
  std::optional<FaultRule> method_fault(std::wstring_view method, bool has_job);

  void add_fault(FaultRule rule);
  void clear_faults();
  std::vector<FaultRule> faults() const;

  // Whether record() keeps anything: the facade builds no entries while this is false. Off until
  // a test turns it on: a host that serves millions of calls must not keep one entry per call
  // that nobody reads.
  bool recording() const { return recording_; }
  void set_recording(bool on) { recording_ = on; }
  // Whether calls are looked at at all, by a fault rule or the transcript: callers skip building
  // the subjects of calls when they are not.
  bool watching() const { return recording_ || !rules_.empty(); }
  void record(CallRecord entry);
  const std::vector<CallRecord>& transcript() const { return transcript_; }

 private:
  std::optional<Fault> fault_by_rule(Call call, std::wstring_view subject);

  struct Rule {
    FaultRule rule;
    std::uint32_t matched = 0;  // matches seen, the skipped ones included
    std::uint32_t fired = 0;
    bool fires();
  };

  std::vector<Rule> rules_;
  std::vector<CallRecord> transcript_;
  bool recording_ = false;
};

}  // namespace simhost::provider
