// Runs the library against a simulated host installed for the test, and captures what it writes
// to standard output and to the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/com_ptr.h"
#include "core/globals.h"
#include "platform/wmi.h"
#include "hypervconfig.h"
#include "simhost/com/installation.hpp"
#include "simhost/provider/simulated_host.hpp"
#include "capture.h"
#include "golden.h"
#include "test_access.h"
#include "winapi/accounting.h"
#include "wintvlogger.h"

namespace hvctest {

using simhost::provider::Call;
using simhost::provider::CallRecord;
using simhost::provider::FaultRule;
using simhost::provider::HostDescription;
using simhost::provider::SimulatedHost;

// What one call left behind: its result, standard output and log lines.
struct Outcome {
  int result = -1;
  std::string out;
  std::vector<std::string> log;
  std::vector<std::string> formats;  // the format of each log call, as the library passed it
};

inline void CaptureLog(int, int, const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

// A rule that makes the matching call fail with `hr`, after letting `after` matches through.
inline FaultRule HresultRule(Call call, const std::wstring& match, HRESULT hr, std::uint32_t after = 0) {
  FaultRule rule;
  rule.call = call;
  rule.match = match;
  rule.hresult = hr;
  rule.after = after;
  return rule;
}

// A rule that makes ExecMethod of `method` return `value`, having done its work when `applied`.
inline FaultRule ReturnRule(const std::wstring& method, std::uint32_t value, bool applied = false) {
  FaultRule rule;
  rule.call = Call::exec_method;
  rule.match = method;
  rule.return_value = value;
  rule.applied = applied;
  return rule;
}

// A method that runs as a job for `passes` observations and ends in `end` with `error`.
inline simhost::provider::CompletionMode Job(std::uint32_t passes, std::uint16_t end = 7, std::uint16_t error = 0) {
  simhost::provider::CompletionMode mode;
  mode.kind = simhost::provider::Completion::job;
  mode.ticks = passes;
  mode.end_state = end;
  mode.error_code = error;
  mode.error_description = L"The guest did not answer";
  return mode;
}

// The system's text for a Win32 error, as FormatMessageA renders it (each system words it its way).
inline std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                      LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result = length != 0 ? std::string(text, length) : std::string();
  LocalFree(text);
  return result;
}

// The __PATH of the first object of a query, on the open connection.
inline void PathOf(const std::string& query, hvc::VariantHolder& path) {
  hvc::GetProperty(hvc::FirstObject(query).Get(), L"__PATH", path);
}

class HostTest : public testing::Test {
 protected:
  // Installs `description` (the built-in default host when none is given).
  void Install(const HostDescription& description) {
    install_.reset();
    host_ = std::make_shared<SimulatedHost>(description);
    host_->set_recording(true);
    install_ = std::make_unique<simhost::com::Installation>(host_);
  }
  void SetUp() override {
    std::cout << std::dec;
    Install(simhost::provider::default_host_description());
  }
  void TearDown() override {
    install_.reset();
    std::cout << std::dec;
  }

  SimulatedHost& host() { return *host_; }

  // Runs `call` and checks that it leaves nothing alive and the connection closed.
  Outcome Run(const std::function<int()>& call, bool connectionClosed = true) {
    Outcome outcome;
    TvLoggerSetSink(CaptureLog, &outcome.log);
    TvLoggerSetFormatSink(CaptureLog, &outcome.formats);
    const winapi::LiveCounts before = winapi::CurrentCounts();
    const std::size_t transcriptFrom = host_->transcript().size();
    hvc::test::StreamCapture capture(stdout);
    outcome.result = call();
    outcome.out = capture.Take();
    TvLoggerSetSink(nullptr, nullptr);
    TvLoggerSetFormatSink(nullptr, nullptr);
    RecordGolden(outcome, host_->transcript(), transcriptFrom);
    if (connectionClosed) {
      const winapi::LiveCounts after = winapi::CurrentCounts();
      EXPECT_EQ(after.bstrs, before.bstrs) << "BSTRs left alive";
      EXPECT_EQ(after.safearrays, before.safearrays) << "SAFEARRAYs left alive";
      EXPECT_EQ(after.comObjects, before.comObjects) << "COM objects left alive";
      EXPECT_EQ(after.comInits, before.comInits) << "COM initialisations not balanced";
      const void* const globals[] = {g_pLocator, g_pServices, g_extPortList, g_vmList, g_switchList, g_adapterList};
      for (std::size_t i = 0; i < std::size(globals); ++i)
        EXPECT_EQ(globals[i], nullptr) << "global " << i << " of the connection left set";
    }
    return outcome;
  }

  // A call that fails with `hr`, leaving ERROR_ACCESS_DENIED (5) as the thread's last error.
  void Fail(Call call, const std::wstring& match, HRESULT hr) {
    FaultRule rule = HresultRule(call, match, hr);
    rule.last_error = ERROR_ACCESS_DENIED;
    host().add_fault(rule);
  }

  // The subjects of the transcript entries of one kind of call, in order.
  std::vector<std::wstring> Calls(const wchar_t* call) const {
    std::vector<std::wstring> subjects;
    for (const CallRecord& entry : host_->transcript())
      if (entry.call == call)
        subjects.push_back(entry.subject);
    return subjects;
  }

  // The detail of the first ExecMethod of `method`: its target and in-parameters.
  std::wstring MethodDetail(const wchar_t* method) const {
    for (const CallRecord& entry : host_->transcript())
      if (entry.call == L"ExecMethod" && entry.subject == method)
        return entry.detail;
    return L"";
  }

  // What each transcript entry about `subject` was and returned, in order ("ExecQuery 0",
  // "Next 0x80041017").
  std::vector<std::string> Outcomes(const std::wstring& subject) const {
    std::vector<std::string> outcomes;
    for (const CallRecord& entry : host_->transcript()) {
      if (entry.subject != subject)
        continue;
      char text[64];
      std::snprintf(text, sizeof text, entry.result == 0 ? " %d" : " 0x%x", static_cast<unsigned>(entry.result));
      outcomes.push_back(std::string(entry.call.begin(), entry.call.end()) + text);
    }
    return outcomes;
  }

  HypervConfig config_;

 public:
  // Runs `work` on a connection held open around it, as a caller of the unframed members does:
  // -1 when the open fails; `closedEarly`, when given, tells whether the work closed it itself.
  int OnOpenConnection(const std::function<int()>& work, bool* closedEarly = nullptr) {
    if (config_.OpenWMINamespace() != 0)
      return -1;
    const int result = work();
    if (closedEarly != nullptr)
      *closedEarly = g_pServices == nullptr;
    if (g_pServices != nullptr)
      config_.CloseWMINamespace();
    return result;
  }

  // The unframed adapter members that no other member calls, on the open connection, each readied
  // by queries of the caller's own; `begin` runs just before the member.
  // CreateNetworkAdapter for machine `vm` from its settings: the new adapter's settings, or null.
  hvc::ComPtr<IWbemClassObject> CreateNetworkAdapter(
      const std::string& vm, int kind, const std::function<void()>& begin = [] {}) {
    hvc::VariantHolder vmPath, adapters, settings;
    PathOf("SELECT * FROM Msvm_ComputerSystem WHERE Name='" + vm + "'", vmPath);
    PathOf("SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE InstanceID LIKE 'Microsoft:" + vm + "%'",
           adapters);
    PathOf("ASSOCIATORS OF {" + Narrow(V_BSTR(&adapters.Get())) + "} WHERE ResultClass=Msvm_VirtualSystemSettingData",
           settings);
    std::string search = Narrow(V_BSTR(&settings.Get()));
    begin();
    return hvc::ComPtr<IWbemClassObject>(HypervConfigTestAccess::Call(
        config_, HypervConfigTestAccess::CreateNetworkAdapter, vmPath.Get(), search.data(), kind));
  }
  // RemoveVNicFromVM of the adapter with MAC `address` from machine `vm`.
  int RemoveVNic(
      const std::string& address, const std::string& vm, const std::function<void()>& begin = [] {}) {
    hvc::VariantHolder adapterPath, vmPath;
    PathOf("SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE Address='" + address + "'", adapterPath);
    PathOf("SELECT * FROM Msvm_ComputerSystem WHERE Name='" + vm + "'", vmPath);
    char name[] = "nic";
    begin();
    return HypervConfigTestAccess::Call(config_, HypervConfigTestAccess::RemoveVNicFromVM, nullptr, adapterPath.Get(),
                                        vmPath.Get(), name);
  }
  // GetSyntheticPort on switch `sw` for the settings of adapter 00155D010A03, `skip` objects into
  // their enumerator: 0 when it handed back a port.
  int SyntheticPort(
      const std::string& sw, int skip = 0, const std::function<void()>& begin = [] {}) {
    hvc::ComPtr<IEnumWbemClassObject> settings;
    hvc::ExecQuery("SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE Address='00155D010A03'", hvc::kImmediate,
                   settings);
    hvc::ComPtr<IWbemClassObject> skipped;
    ULONG returned = 0;
    for (int i = 0; i < skip; ++i)
      hvc::NextObject(settings.Get(), skipped, returned);
    skipped.Reset();
    std::string name = sw;
    begin();
    const hvc::ComPtr<IWbemClassObject> port(
        HypervConfigTestAccess::Call(config_, HypervConfigTestAccess::GetSyntheticPort, settings.Get(), name.data()));
    return port ? 0 : 1;
  }

 private:
  std::shared_ptr<SimulatedHost> host_;
  std::unique_ptr<simhost::com::Installation> install_;
};

}  // namespace hvctest
