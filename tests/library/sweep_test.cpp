// The fault sweep: each operation runs once on a host where it succeeds, then once more for every
// WMI call it made, with exactly that call failing: an HRESULT for any call, and for ExecMethod
// also 4096 and each ReturnValue failure its method documents and, where the method can start one,
// a job that ends in 10 (Exception). Each run must leave nothing alive and COM balanced; what it returns,
// prints, logs and leaves on the host is compared with the operation's reviewed golden file in
// tests/library/sweep/. `scripts/sweep.sh record` rewrites those files; review the diff.
#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "host_fixture.h"

namespace hvctest {
namespace {

using Access = HypervConfigTestAccess;

constexpr char kExternal[] = "9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27";
constexpr char kInternal[] = "2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852";
constexpr char kWeb[] = "4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";    // running, two adapters
constexpr char kBuild[] = "7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16";  // running, one adapter on External
constexpr char kSql[] = "B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";    // off, two adapters
constexpr char kFreeNic[] = "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}";

constexpr HRESULT kFailure = static_cast<HRESULT>(0x80041001);  // WBEM_E_FAILED
constexpr DWORD kLastError = ERROR_ACCESS_DENIED;
// The failures every v1 method of the provider documents besides 0 and 4096, from "Failed (32768)"
// to "Out of memory (32778)" (the Return value lists of CreateSwitchPort, RequestStateChange and the
// other methods of Msvm_VirtualSwitchManagementService and Msvm_VirtualSystemManagementService).
constexpr std::uint32_t kFirstRefusal = 32768, kLastRefusal = 32778, kJobStarted = 4096;

std::string Text(const std::string& text) {
  std::string shown;
  for (const char c : text)
    shown += c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
  return shown;
}

// The host as one line per switch and machine, to tell what an operation changed.
std::set<std::string> Summary(const HostDescription& host) {
  std::set<std::string> lines;
  for (const auto& s : host.switches) {
    std::string line = "switch " + Narrow(s.element_name) + " " + Narrow(s.name) + " external=" + Narrow(s.external) +
                       (s.internal ? " internal" : "") + " ports:";
    for (const auto& p : s.ports)
      line += " " + Narrow(p.name);
    lines.insert(line);
  }
  for (const auto& vm : host.vms) {
    std::string line = "vm " + Narrow(vm.element_name) + " state " + std::to_string(vm.enabled_state) + " adapters:";
    for (const auto& a : vm.adapters)
      line += " " + Narrow(a.address) + "@" + Narrow(a.port) + Narrow(a.switch_name);
    lines.insert(line);
  }
  return lines;
}

std::string Joined(const std::set<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return Normalised(text);
}

struct Point {
  std::size_t index = 0;  // in the transcript; 0 for CoInitializeEx, which the facade cannot see
  std::wstring call, subject;
  FaultRule rule;
  std::string kind;  // what the point makes fail, as the golden file names it
};

// The default host, with every adapter on a port the file names, so that the host starts the same
// in every run; `vms` keeps only the first machines (0: all of them).
HostDescription SweepHost(std::size_t vms = 0) {
  HostDescription host = simhost::provider::default_host_description();
  if (vms != 0 && vms < host.vms.size())
    host.vms.resize(vms);
  for (auto& vm : host.vms)
    for (auto& adapter : vm.adapters)
      adapter.switch_name.clear();
  return host;
}

class Sweep;

// A fresh writable copy of `text` for a member that takes char*; kept until the process ends.
char* Arg(const char* text) {
  static std::deque<std::string> kept;
  return kept.emplace_back(text).data();
}

// One operation of the sweep: what it runs, and where in the transcript its own calls begin.
struct Operation {
  const char* name;
  bool opens;  // opens the connection itself, so a failing CoInitializeEx is one of its points
  std::function<int(Sweep&)> run;
  std::size_t vms = 0;  // machines of the default host kept, 0 for all: the walk grows with their square
};

class Sweep : public HostTest {
 public:
  // Marks the start of the operation's own calls: those before it only set the operation up.
  void Begin() { begin_ = host().transcript().size(); }
  HypervConfig& Begun() {
    Begin();
    return config_;
  }
  HypervConfig& config() { return config_; }
  // A line of what the operation handed back, for the golden entry.
  void Note(const std::string& line) { notes_.push_back(line); }

 protected:
  std::string Describe(const Outcome& outcome, const std::set<std::string>& before,
                       const std::set<std::string>& success) {
    const std::set<std::string> after = Summary(host().to_description());
    std::string text = "result " + std::to_string(outcome.result) + "\nout " + Text(outcome.out) + "\n";
    for (const std::string& line : outcome.log)
      text += "log " + Text(line) + "\n";
    for (const std::string& line : notes_)
      text += "record " + Text(line) + "\n";
    // New switches and ports have new GUIDs in every run.
    if (after == before) {
      text += "host unchanged\n";
    } else if (Joined(after) == Joined(success)) {
      text += "host as after success\n";
    } else {
      for (const std::string& line : before)
        if (after.count(line) == 0)
          text += "host - " + line + "\n";
      for (const std::string& line : after)
        if (before.count(line) == 0)
          text += "host + " + line + "\n";
    }
    // The system's wording of the last error differs between platforms.
    const std::string system = Text(SystemText(kLastError));
    for (std::size_t at; !system.empty() && (at = text.find(system)) != std::string::npos;)
      text.replace(at, system.size(), "<system text of error 5>");
    return text;
  }

  // The operation's run, with `rule` set (none for the baseline) on a fresh default host.
  Outcome RunOnce(const Operation& op, const std::optional<FaultRule>& rule, bool apartment = false) {
    Install(SweepHost(op.vms));
    if (rule)
      host().add_fault(*rule);
    begin_ = 0;
    notes_.clear();
    std::cout << std::dec;  // as in a fresh process: the library leaves the stream in hexadecimal
    if (!apartment)
      return Run([&] { return op.run(*this); });
    // A thread already in a single-threaded apartment: the operation's CoInitializeEx fails there
    // with RPC_E_CHANGED_MODE, on every platform.
    Outcome outcome;
    std::thread([&] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      outcome = Run([&] { return op.run(*this); });
      CoUninitialize();
    }).join();
    return outcome;
  }

  // Every fault point of the operation, from its baseline transcript.
  std::vector<Point> Points(const Operation& op, std::size_t begin) {
    std::vector<Point> points;
    if (op.opens)
      points.push_back({0, L"CoInitializeEx", L"", {}, "fails in a single-threaded apartment"});
    const auto& transcript = host().transcript();
    std::map<std::wstring, std::uint32_t> seen;  // calls of each kind so far
    std::uint32_t jobCalls = 0;                  // ExecMethod calls of methods with a Job: all a job rule counts
    for (std::size_t i = 0; i < transcript.size(); ++i) {
      const CallRecord& entry = transcript[i];
      const std::uint32_t earlier = seen[entry.call]++;
      const auto call = simhost::provider::call_from_name(entry.call);
      const bool startsJob = call == Call::exec_method && simhost::provider::has_job_parameter(entry.subject);
      const std::uint32_t earlierJobs = startsJob ? jobCalls++ : jobCalls;
      if (i < begin)
        continue;
      if (!call) {
        ADD_FAILURE() << "no fault rule can name " << Narrow(entry.call);
        continue;
      }
      FaultRule rule;
      rule.call = *call;
      rule.after = earlier;
      rule.hresult = kFailure;
      rule.last_error = kLastError;
      points.push_back({i, entry.call, entry.subject, rule, "fails 0x80041001"});
      if (*call != Call::exec_method)
        continue;
      rule.hresult.reset();
      rule.last_error.reset();
      // 4096 too: "job started", with a job that never starts where the method has a Job, and
      // with none where it has not; several operations take it for a failure.
      for (std::uint32_t value = kFirstRefusal - 1; value <= kLastRefusal; ++value) {
        rule.return_value = value == kFirstRefusal - 1 ? kJobStarted : value;
        points.push_back({i, entry.call, entry.subject, rule, "returns " + std::to_string(*rule.return_value)});
      }
      rule.return_value.reset();
      if (startsJob) {
        rule.job_result = 10;
        rule.after = earlierJobs;
        points.push_back({i, entry.call, entry.subject, rule, "starts a job that ends in 10"});
      }
    }
    return points;
  }

  std::size_t begin_ = 0;
  std::vector<std::string> notes_;
};

// Each golden file: the baseline, then one entry per fault point, each headed by a line "[...]".
std::map<std::string, std::string> ReadGolden(const std::string& path) {
  std::map<std::string, std::string> entries;
  std::ifstream in(path, std::ios::binary);
  std::string line, head, body;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      if (!head.empty())
        entries[head] = body;
      head = line;
      body.clear();
    } else if (!head.empty()) {
      body += line + "\n";
    }
  }
  if (!head.empty())
    entries[head] = body;
  return entries;
}

std::string GoldenPath(const char* op) {
  return std::string(HVC_SWEEP_DIR) + "/" + op + ".txt";
}

class FaultSweep : public Sweep, public testing::WithParamInterface<Operation> {};

TEST_P(FaultSweep, EveryCallFailsInTurn) {
  const Operation& op = GetParam();
  const Outcome baseline = RunOnce(op, std::nullopt);
  const std::size_t begin = begin_;
  const std::set<std::string> before = Summary(SweepHost(op.vms));
  const std::set<std::string> success = Summary(host().to_description());
  const std::vector<CallRecord> calls = host().transcript();
  const std::vector<Point> points = Points(op, begin);

  std::vector<std::pair<std::string, std::string>> entries;
  entries.emplace_back("[baseline]", Describe(baseline, before, success));
  for (const Point& point : points) {
    const std::string head = "[" + std::to_string(point.index) + "] " + Narrow(point.call) +
                             (point.subject.empty() ? "" : " " + Normalised(Narrow(point.subject))) + " " + point.kind;
    SCOPED_TRACE(head);
    const bool apartment = point.call == L"CoInitializeEx";
    const Outcome outcome = RunOnce(op, apartment ? std::nullopt : std::optional<FaultRule>(point.rule), apartment);
    if (!apartment) {
      // The rule must have hit the very call the point names.
      const auto& transcript = host().transcript();
      ASSERT_GT(transcript.size(), point.index)
          << "the run ended at "
          << (transcript.empty() ? std::string() : Narrow(transcript.back().call + L" " + transcript.back().subject));
      const CallRecord& hit = transcript[point.index];
      EXPECT_EQ(Narrow(hit.call), Narrow(point.call));
      EXPECT_EQ(Normalised(Narrow(hit.subject)), Normalised(Narrow(point.subject)));
      if (point.rule.hresult) {
        EXPECT_EQ(hit.result, kFailure);
      }
    }
    entries.emplace_back(head, Describe(outcome, before, success));
  }

  const std::string path = GoldenPath(op.name);
  if (const char* record = std::getenv("HVC_SWEEP_RECORD"); record != nullptr && *record != '\0') {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& [head, body] : entries)
      out << head << "\n" << Normalised(body);
    return;
  }
  const std::map<std::string, std::string> golden = ReadGolden(path);
  EXPECT_EQ(golden.size(), entries.size()) << path << " has another set of fault points";
  for (const auto& [head, body] : entries) {
    const auto found = golden.find(head);
    if (found == golden.end()) {
      ADD_FAILURE() << "no golden entry " << head;
    } else {
      EXPECT_EQ(found->second, Normalised(body)) << head;
    }
  }
  std::printf("%s: %zu calls, %zu fault points\n", op.name, calls.size() - begin, points.size());
}

// Each record as one line of its fields.
std::string Line(const vExtPort& r) {
  return std::string(r.ElementName) + " | " + r.DeviceID + " | " + std::to_string(r.HealthState);
}
std::string Adapters(const vMachines& r) {
  std::string line = " adapters";
  for (int i = 0; i < r.AdapterCount && i < 24; ++i)
    line += std::string(" ") + r.Adapters[i].Address + "@" + r.Adapters[i].Connection;
  return line;
}
std::string Line(const vMachines& r) {
  std::string line = std::string(r.ElementName) + " " + r.Name + " state " + std::to_string(r.EnabledState) +
                     " health " + std::to_string(r.HealthState) + " switches";
  for (int i = 0; i < r.SwitchCount && i < 24; ++i)
    line += std::string(" ") + r.SwitchElementName[i] + "/" + r.SwitchName[i];
  return line + Adapters(r);
}
std::string Line(const vNetwork& r) {
  return std::string(r.ElementName) + " " + r.Name + " type " + std::to_string(r.SwitchType) + " port " + r.PortName +
         " " + r.PortDeviceID + " health " + std::to_string(r.HealthState) + " enabled " +
         std::to_string(r.EnabledState);
}
std::string Line(const vAssocAdapter& r) {
  return std::string(r.ElementName) + " " + r.Name + " health " + std::to_string(r.HealthState) + " enabled " +
         std::to_string(r.EnabledState);
}

// An enumeration into a buffer with room to spare; the byte count and the records are noted.
template <class Record>
int Enumerate(Sweep& s, const std::function<int(void*, unsigned long*)>& call) {
  std::vector<Record> records(64);
  unsigned long size = 0xFFFFFFFF;  // a count the operation did not write shows as this
  s.Begin();
  const int result = call(records.data(), &size);
  s.Note("bytes " + std::to_string(size));
  for (unsigned long i = 0; size != 0xFFFFFFFF && i < size / sizeof(Record) && i < records.size(); ++i)
    s.Note(Line(records[i]));
  return result;
}

const Operation kOperations[] = {
    {"OpenWMINamespace", true,
     [](Sweep& s) {
       s.Begin();
       // A careful caller closes what the open left, and never COM that the open did not initialise.
       const long inits = winapi::CurrentCounts().comInits;
       const int result = s.config().OpenWMINamespace();
       if (result == 0 || winapi::CurrentCounts().comInits > inits)
         s.config().CloseWMINamespace();
       return result;
     }},
    {"GetExternalPorts", true,
     [](Sweep& s) {
       return Enumerate<vExtPort>(s, [&](void* b, unsigned long* n) { return s.config().GetExternalPorts(b, n); });
     }},
    {"GetVirtualMachines", true,
     [](Sweep& s) {
       return Enumerate<vMachines>(s, [&](void* b, unsigned long* n) { return s.config().GetVirtualMachines(b, n); });
     },
     3},
    {"GetVirtualSwitches", true,
     [](Sweep& s) {
       return Enumerate<vNetwork>(s, [&](void* b, unsigned long* n) { return s.config().GetVirtualSwitches(b, n); });
     }},
    {"GetAdapters", true,
     [](Sweep& s) {
       std::string name = "ignored";
       return Enumerate<vAssocAdapter>(
           s, [&](void* b, unsigned long* n) { return s.config().GetAdapters(b, n, name.data()); });
     }},
    {"GetVirtualNetworkAdapters", false,
     [](Sweep& s) {
       return s.OnOpenConnection([&] {
         vMachines record{};
         std::string name = kWeb;
         s.Begin();
         const int result = s.config().GetVirtualNetworkAdapters(name.data(), &record);
         s.Note(Adapters(record));
         return result;
       });
     }},
    {"CreateVSwitch-external", true, [](Sweep& s) { return s.Begun().CreateVSwitch(Arg(kFreeNic), Arg("Sweep"), 1); }},
    {"CreateVSwitch-internal", true, [](Sweep& s) { return s.Begun().CreateVSwitch(nullptr, Arg("Sweep"), 2); }},
    {"DeleteVSwitch", true, [](Sweep& s) { return s.Begun().DeleteVSwitch(Arg("Internal Network")); }},
    {"SetVMState-start", true, [](Sweep& s) { return s.Begun().SetVMState(Arg(kSql), 2); }},
    {"SetVMState-shutdown", true, [](Sweep& s) { return s.Begun().SetVMState(Arg(kWeb), 0); }},
    {"AddVirtNetToVirtMachine", true,
     [](Sweep& s) { return s.Begun().AddVirtNetToVirtMachine(Arg(kInternal), Arg(kBuild), Arg("00155D010A03")); }},
    {"RemoveVirtNetFromVirtMachine", true,
     [](Sweep& s) { return s.Begun().RemoveVirtNetFromVirtMachine(Arg(kExternal), Arg(kBuild), Arg("00155D010A03")); }},
    // The exported members that no other member calls.
    {"CreateNetworkAdapter", false,
     [](Sweep& s) {
       return s.OnOpenConnection([&] { return s.CreateNetworkAdapter(kSql, 1, [&] { s.Begin(); }) ? 0 : 1; });
     }},
    {"RemoveVNicFromVM", false,
     [](Sweep& s) {
       return s.OnOpenConnection([&] { return s.RemoveVNic("00155D010A04", kSql, [&] { s.Begin(); }); });
     }},
    {"GetSyntheticPort", false,
     [](Sweep& s) { return s.OnOpenConnection([&] { return s.SyntheticPort(kExternal, 0, [&] { s.Begin(); }); }); }},
};

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<Operation>& param) {
                           std::string name = param.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

#ifndef _WIN32
// The one failure of the connection change that no WMI call stands for: an element that cannot be
// put into the connection array (the first put) or the settings text array (the second).
TEST_F(Sweep, AnArrayElementThatCannotBePutEndsTheConnection) {
  for (const wchar_t* element : {L"\\\\", L"<INSTANCE"}) {  // the port's path, the settings text
    SCOPED_TRACE(Narrow(element));
    Install(SweepHost());
    std::string sw = kInternal, vm = kBuild, mac = "00155D010A03";
    const Outcome outcome = Run([&] {
      winapi::FailSafeArrayPut(element);
      const int result = config().AddVirtNetToVirtMachine(sw.data(), vm.data(), mac.data());
      winapi::FailSafeArrayPut(nullptr);
      return result;
    });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_NE(outcome.out.find("Unable to put into safe array 8007000e\n"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.log, (std::vector<std::string>{"Unable to put into safe array 0x8007000e",
                                                     "Unable to attach switchport to vswitch 0x8007000e\n"}));
  }
}
#endif

// The size of the sweep, from the golden files: every operation, its calls and its fault points by
// kind. GetErrStr and operator=, the other public members, make no WMI call.
TEST(FaultSweepSize, IsPrinted) {
  std::set<std::string> calls;
  std::map<std::string, int> kinds;
  int points = 0;
  for (const Operation& op : kOperations) {
    for (const auto& [head, body] : ReadGolden(GoldenPath(op.name))) {
      if (head == "[baseline]")
        continue;
      ++points;
      const std::size_t kind = head.find(" fails ") != std::string::npos     ? head.find(" fails ")
                               : head.find(" returns ") != std::string::npos ? head.find(" returns ")
                                                                             : head.find(" starts ");
      calls.insert(std::string(op.name) + head.substr(0, kind));
      ++kinds[kind != std::string::npos ? head.substr(kind + 1, head.find(' ', kind + 1) - kind - 1) : head];
    }
  }
  EXPECT_GT(points, 0);
  std::printf("fault sweep: %zu operations, %zu calls, %d fault points (", std::size(kOperations), calls.size(),
              points);
  for (const auto& [kind, count] : kinds)
    std::printf(" %s %d", kind.c_str(), count);
  std::printf(" )\n");
}

}  // namespace
}  // namespace hvctest
