// Changing a virtual machine's state and shutting its guest down, against the simulated host:
// the machine's new state, the result, and the exact lines on standard output and in the log.
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "simhost/cim/text.hpp"

namespace hvctest {
namespace {

using Access = HypervConfigTestAccess;
using simhost::provider::CompletionMode;

constexpr char kWeb[] = "4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";    // running, shutdown component
constexpr char kBuild[] = "7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16";  // running, no shutdown component
constexpr char kSql[] = "B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";    // off

const std::string kClassShown = "\nGetObject returned 0x0:";
const std::string kMethodShown = "\nGetMethod returned 0x0:";
// A refused ExecMethod, after the class and method it took (5: the last error).
const std::string kNotExecuted =
    kClassShown + kMethodShown + "Could not execute method. Error code = 0x80041001--->5\n";
constexpr HRESULT kRefused = static_cast<HRESULT>(0x80041001);
constexpr HRESULT kMissing = static_cast<HRESULT>(0x80041002);

std::string Returned(const std::string& value) {
  return "Return value of request state change " + value + "\n";
}
std::string Logged(const std::string& value) {
  return "Return value of RequestStateChange method " + value;
}

// Job identifiers differ from run to run.
std::string Normalised(const std::string& out) {
  return std::regex_replace(out, std::regex("Instance ID [0-9A-Fa-f-]+->"), "Instance ID <job>->");
}

class VmState : public HostTest {
 protected:
  unsigned EnabledState(const char* vm) {
    const auto found =
        host().query(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(vm, vm + std::strlen(vm)) + L"'");
    const auto& repo = host().repository();
    return static_cast<unsigned>(*repo.property(*repo.get(found->instances.at(0)), L"EnabledState")->as_uint());
  }
  Outcome SetState(const char* vm, int state) {
    std::string name = vm;
    Outcome outcome = Run([&] {
      SetLastError(ERROR_ACCESS_DENIED);
      return config_.SetVMState(name.data(), state);
    });
    outcome.out = Normalised(outcome.out);
    return outcome;
  }
};

// A change the host makes at once, without a job. A job followed to its end, a refused change, a
// job that fails and a paused guest's refusal are the sweep's SetVMState goldens.
TEST_F(VmState, AChangeWithoutAJobIsDoneAtOnce) {
  host().set_completion(L"RequestStateChange", CompletionMode{});
  const Outcome outcome = SetState(kWeb, 3);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.out, kClassShown + kMethodShown + Returned("0"));
  EXPECT_EQ(outcome.log, std::vector<std::string>{Logged("0")});
  EXPECT_EQ(EnabledState(kWeb), 3u);
}

// v1's InitiateShutdown has no Job: it returns 0 once the shutdown is initiated, with nothing to
// wait for, and the guest is still stopping (32774) when the call returns; it goes off later. The
// method is called by the name "InitiateShutDown", on the component's own path.
TEST_F(VmState, AGuestShutdownHasNoJobAndTheMethodsGetTheirParameters) {
  std::string name = kWeb;
  const Outcome outcome = Run([&] { return config_.SetVMState(name.data(), 0); });
  EXPECT_EQ(outcome.result, 0);               // its lines are the sweep's SetVMState-shutdown baseline
  EXPECT_EQ(Calls(L"ExecQuery").size(), 2u);  // the machine and its component; no job list
  EXPECT_EQ(EnabledState(kWeb), 32774u);
  EXPECT_EQ(EnabledState(kWeb), 32774u);
  EXPECT_EQ(EnabledState(kWeb), 3u);
  const std::wstring detail = MethodDetail(L"InitiateShutDown");
  EXPECT_NE(detail.find(L"\nForce=TRUE\n"), std::wstring::npos) << simhost::cim::narrow(detail);
  EXPECT_NE(detail.find(L"\nReason=No Comment\n"), std::wstring::npos);
  const std::string path = simhost::cim::narrow(detail.substr(0, detail.find(L'\n')));
  EXPECT_EQ(path.rfind("\\\\HV-LAB01\\root\\virtualization:Msvm_ShutdownComponent.", 0), 0u) << path;
  EXPECT_NE(outcome.out.find("\nPath variable " + path + "\n"), std::string::npos);
  SetState(kSql, 2);
  EXPECT_NE(MethodDetail(L"RequestStateChange").find(L"\nRequestedState=2\n"), std::wstring::npos);
}

// Failures before the method's result is judged, run on a connection opened for the worker: the
// lines, and how the worker left the connection (open, its references released with COM left to
// the frame, or closed with COM).
TEST_F(VmState, FailuresAndHowTheConnectionIsLeft) {
  enum class Left { open, released, closed };
  struct Row {
    const char* what;
    const char* vm;
    int state;
    Call call;
    std::wstring match;  // empty: no fault
    std::string out;
    std::vector<std::string> log;
    Left left;
    std::size_t methods;  // ExecMethod calls made
  };
  const std::string sql = kSql, notFound = "VM not found ", notEnabled = "Not able to find 'enabled' VM ";
  const Row rows[] = {
      {"no such machine", "NOPE", 2, Call::exec_query, L"", "", {notFound + "NOPE"}, Left::closed, 0},
      {"query fails", kSql, 2, Call::exec_query, L"ComputerSystem where", "", {notFound + sql}, Left::closed, 0},
      {"method fails", kSql, 2, Call::exec_method, L"RequestStateChange", kNotExecuted, {}, Left::closed, 1},
      {"no such machine to shut down", "NOPE", 0, Call::exec_query, L"", "", {}, Left::released, 0},
      {"no shutdown component", kBuild, 0, Call::exec_query, L"", "", {notEnabled + kBuild}, Left::released, 0},
      {"guest off", kSql, 0, Call::exec_query, L"", "", {notEnabled + sql}, Left::released, 0},
  };
  for (const Row& row : rows) {
    Install(simhost::provider::default_host_description());
    if (!row.match.empty())
      Fail(row.call, row.match, row.call == Call::exec_method ? kRefused : kMissing);
    Left left = Left::open;
    std::string name = row.vm;
    Outcome outcome = Run([&] {
      EXPECT_EQ(Access::Call(config_, Access::OpenWMIReferences), 0);
      const long inits = winapi::CurrentCounts().comInits;
      SetLastError(ERROR_ACCESS_DENIED);
      const int result = Access::Call(config_, Access::VMStateChange, name.data(), row.state);
      left = g_pServices != nullptr                     ? Left::open
             : winapi::CurrentCounts().comInits < inits ? Left::closed
                                                        : Left::released;
      if (left != Left::closed)
        Access::Call(config_, Access::closeWMIReferences);
      return result;
    });
    EXPECT_EQ(outcome.result, 1) << row.what;
    EXPECT_EQ(Normalised(outcome.out), row.out) << row.what;
    EXPECT_EQ(outcome.log, row.log) << row.what;
    EXPECT_EQ(left, row.left) << row.what;
    EXPECT_EQ(Calls(L"ExecMethod").size(), row.methods) << row.what;
  }
}

// An HRESULT line leaves std::cout in hexadecimal: the next call's numbers come out in it too.
TEST_F(VmState, NumbersAfterAnHresultLineAreHexadecimal) {
  Fail(Call::exec_method, L"RequestStateChange", kRefused);
  EXPECT_EQ(SetState(kSql, 2).out, kNotExecuted);
  host().set_completion(L"RequestStateChange", Job(0, 10, 32770));  // ends at once in an exception
  const Outcome outcome = SetState(kSql, 2);
  EXPECT_EQ(outcome.out, kClassShown + kMethodShown + Returned("1000") +
                             "HypervConfig::GetJobStatus: ErrorCode 8002\n\n Instance ID <job>-> Description Running "
                             "RequestStateChangeHypervConfig::GetJobStatus: Job state a\n"
                             "HypervConfig::GetJobStatus: Job state a\n");
  EXPECT_EQ(outcome.log, (std::vector<std::string>{Logged("4096"), "Job state-10 Error Code - 32770",
                                                   "State Change for failed with job state-10"}));
  // A refused transition's ReturnValue (32775) is a signed 16-bit number: 8007, not ffff8007.
  host().set_completion(L"RequestStateChange", CompletionMode{});
  EXPECT_EQ(SetState(kSql, 3).out, kClassShown + kMethodShown + Returned("8007"));
}

}  // namespace
}  // namespace hvctest
