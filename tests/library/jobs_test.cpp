#include <string>
#include <vector>

#include "host_fixture.h"

namespace hvctest {
namespace {

using simhost::provider::CompletionMode;

constexpr wchar_t kWeb[] = L"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";  // running in the default host

class Jobs : public HostTest {
 protected:
  // Opens the connection, asks the running machine to turn off as a worker would, waits with
  // `report` for the job its out-parameters name (or for the job `instead`), and closes again.
  Outcome Wait(int report, const char* instead = nullptr) {
    return Run([&] {
      EXPECT_EQ(config_.OpenWMINamespace(), 0);
      hvc::MethodCall call;
      EXPECT_EQ(call.Prepare(L"Msvm_ComputerSystem", L"RequestStateChange", false), S_OK);
      hvc::PutText(call.In(), L"RequestedState", "3", CIM_UINT16);
      call.Instance("SELECT * FROM Msvm_ComputerSystem WHERE Name='" + Narrow(kWeb) + "'");
      hvc::ComPtr<IWbemClassObject> out;
      EXPECT_EQ(call.Call(L"RequestStateChange", out), S_OK);
      EXPECT_EQ(hvc::ReturnValueOf(out.Get()), 4096);
      if (instead != nullptr)
        hvc::PutText(out.Get(), L"Job", instead, CIM_REFERENCE);
      const int result = HypervConfigTestAccess::Call(config_, HypervConfigTestAccess::GetJobStatus, out.Get(), report);
      config_.CloseWMINamespace();
      return result;
    });
  }

  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  }
};

TEST_F(Jobs, AJobIsFollowedPassByPassUntilItEnds) {
  struct Case {
    const char* what;
    CompletionMode mode;
    int report;
    int result;
    std::vector<std::string> log;
  };
  // A job of two passes that completes, and one that ends in 10 (Exception), are the sweep's
  // SetVMState-start baseline and its "starts a job that ends in 10" entry.
  const Case cases[] = {
      {"completed at the first pass", Job(0), 1, 0, {"Job state-7 Error Code - 0"}},
      {"fails, nobody asked for a report",
       Job(1, 8, 32768),
       0,
       1,
       {"Job state-4 Error Code - 0", "Job state-8 Error Code - 32768"}},
  };
  for (const Case& c : cases) {
    Install(simhost::provider::default_host_description());
    host().set_completion(L"RequestStateChange", c.mode);
    const Outcome outcome = Wait(c.report);
    EXPECT_EQ(outcome.result, c.result) << c.what;
    EXPECT_EQ(outcome.log, c.log) << c.what;
    // One set of lines per pass that saw the job, and one final state line.
    const int passes = static_cast<int>(c.log.size()) - (c.result != 0 && c.report != 0 ? 1 : 0);
    EXPECT_EQ(Count(outcome.out, "HypervConfig::GetJobStatus: ErrorCode "), passes) << c.what;
    EXPECT_EQ(Count(outcome.out, "\n Instance ID "), passes) << c.what;
    EXPECT_EQ(Count(outcome.out, "HypervConfig::GetJobStatus: Job state "), passes + 1) << c.what;
  }
}

// A job that has already gone, while the one just started is listed: nothing matches, the state
// stays 0. (One that never starts is the sweep's SetVMState-start "returns 4096" entry.)
TEST_F(Jobs, AJobThatIsNotListedEndsTheWaitAtOnce) {
  const Outcome outcome = Wait(1, "\\\\HV-LAB01\\root\\virtualization:Msvm_ConcreteJob.InstanceID=\"GONE\"");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.out, "HypervConfig::GetJobStatus: Job state 0\n");
  EXPECT_EQ(outcome.log, (std::vector<std::string>{"State Change for failed with job state-0"}));
}

TEST_F(Jobs, AJobThatLeavesTheListWhileRunningEndsTheWait) {
  host().set_completion(L"RequestStateChange", Job(5));
  // The first pass sees the job; from the second on the list hands out nothing.
  FaultRule gone = HresultRule(Call::next, L"Msvm_ConcreteJob", static_cast<HRESULT>(WBEM_E_NOT_FOUND), 2);
  gone.times = std::nullopt;
  host().add_fault(gone);
  const Outcome outcome = Wait(1);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.log,
            (std::vector<std::string>{"Job state-4 Error Code - 0", "State Change for failed with job state-4"}));
}

}  // namespace
}  // namespace hvctest
