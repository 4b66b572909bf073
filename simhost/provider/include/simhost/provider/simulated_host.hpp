// The simulated Hyper-V host: the Msvm_* model of a HostDescription in a CIM repository, the
// provider's methods with their return codes and jobs, and the CallObserver that holds the fault
// rules and the transcript.
#pragma once

#include "simhost/provider/call_observer.hpp"
#include "simhost/provider/host.hpp"
#include "simhost/provider/host_description.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simhost::provider {

namespace detail {
class HostState;
}

class SimulatedHost final : public Host {
 public:
  // Throws std::invalid_argument with the message of validate() for an invalid description. `seed`
  // varies the GUIDs and MACs the host makes up; the same description and seed give the same host.
  explicit SimulatedHost(const HostDescription& description, std::uint64_t seed = 0);
  ~SimulatedHost() override;
  SimulatedHost(const SimulatedHost&) = delete;
  SimulatedHost& operator=(const SimulatedHost&) = delete;

  // A host file's text; the error names the field at fault.
  static LoadResult<std::unique_ptr<SimulatedHost>> from_json(std::string_view json, std::uint64_t seed = 0);
  static std::unique_ptr<SimulatedHost> make_default() {
    return std::make_unique<SimulatedHost>(default_host_description());
  }

  const cim::Repository& repository() const override;
  const std::wstring& computer_name() const override;
  wql::Expected<QueryRun> run_query(std::wstring_view text) override;
  bool observe(cim::InstanceId id) override;
  MethodResult invoke(std::wstring_view target, std::wstring_view method, const cim::PropertyList& in) override;
  ResultOrder result_order() const override;
  CallObserver& observer() override { return observer_; }
  const CallObserver& observer() const { return observer_; }

  // The current state as a host file would describe it (jobs are not part of it).
  HostDescription to_description() const;

  // Test hooks: rules and modes added here behave like those of the host file. A job mode for a
  // method without a Job out-parameter throws std::invalid_argument. The fault and transcript
  // hooks pass on to observer().
  void set_recording(bool on) { observer_.set_recording(on); }
  const std::vector<CallRecord>& transcript() const { return observer_.transcript(); }
  void add_fault(FaultRule rule) { observer_.add_fault(std::move(rule)); }
  void clear_faults() { observer_.clear_faults(); }
  void set_completion(std::wstring_view method, CompletionMode mode);
  CompletionMode completion(std::wstring_view method) const;

 private:
  std::unique_ptr<detail::HostState> state_;
  CallObserver observer_;
};

}  // namespace simhost::provider
