// hvcfg as a user runs it: exit status, standard output and standard error of whole commands on a
// simulated host kept in a file between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sanitizer.h"
#include "simhost/provider/host_description.hpp"

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// Where each hvcfg takes many times longer to start and run: under Wine, or built with ASan.
#if HVC_TEST_ASAN || defined(_WIN32)
constexpr bool kSlowRuns = true;
#else
constexpr bool kSlowRuns = false;
#endif

using simhost::provider::HostDescription;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// A file the tool wrote; Windows text mode ends its lines with CR LF.
std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string result = text.str();
  for (std::size_t at = result.find("\r\n"); at != std::string::npos; at = result.find("\r\n", at))
    result.erase(at, 1);
  return result;
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Quote(const std::string& arg) {
  std::string quoted = "\"";
  for (char c : arg) {
#if !defined(_WIN32)
    if (c == '"' || c == '\\' || c == '$' || c == '`')
      quoted += '\\';
#else
    if (c == '"')
      quoted += '\\';
#endif
    quoted += c;
  }
  return quoted + "\"";
}

constexpr char kWeb[] = "4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";
constexpr char kSql[] = "B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";
constexpr char kInternal[] = "2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852";
constexpr char kFreeNic[] = "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}";

class Hvcfg : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->name());
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() / ("hvcfg_" + name + "_" + std::to_string(Pid()));
    fs::create_directories(dir_);
    host_ = dir_ / "host.json";
    Write(host_, simhost::provider::to_json(simhost::provider::default_host_description()));
  }
  void TearDown() override { fs::remove_all(dir_); }

  static long Pid() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
  }

  // hvcfg with `args`, on the test's host file unless `onHost` is false. `tag` keeps the output
  // files of concurrent runs apart; `out` replaces the standard output file; `shell` comes first.
  Result Run(const std::vector<std::string>& args, bool onHost = true, const std::string& tag = "",
             const std::string& out = "", const std::string& shell = "") {
    std::string command = shell + Quote(Executable());
    if (onHost)
      command += " --host " + Quote(host_.string());
    for (const std::string& arg : args)
      command += " " + Quote(arg);
    const fs::path outFile = dir_ / ("out" + tag), errFile = dir_ / ("err" + tag);
    command += " >" + (out.empty() ? Quote(outFile.string()) : out) + " 2>" + Quote(errFile.string());
#if defined(_WIN32)
    command = "\"" + command + "\"";  // cmd /c strips the outer pair
#endif
    const int status = std::system(command.c_str());
    Result result;
#if defined(_WIN32)
    result.code = status;
#else
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.out = out.empty() ? Slurp(outFile) : "";
    result.err = Slurp(errFile);
    return result;
  }

  HostDescription Description() {
    auto description = simhost::provider::parse_host_json(Slurp(host_));
    EXPECT_TRUE(description.has_value()) << Slurp(host_);
    return description ? description.value() : HostDescription{};
  }
  void Save(const HostDescription& description) {
    Write(host_, simhost::provider::to_json(description));
  }

  static std::string Executable() {
    std::string path = HVCFG_PATH;
#if defined(_WIN32)
    if (!path.empty() && path[0] == '/')
      path = "Z:" + path;  // Wine's view of the build tree
#endif
    return path;
  }

  // `hvcfg --json WHAT`, which must succeed quietly with a JSON array.
  std::string Json(const std::string& what) {
    const Result r = Run({"--json", what});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(nlohmann::json::parse(r.out, nullptr, false).is_array()) << r.out;
    return r.out;
  }
  // The element of `hvcfg --json WHAT` whose `key` is `value`.
  nlohmann::json Record(const std::string& what, const std::string& key, const std::string& value) {
    for (const nlohmann::json& element : nlohmann::json::parse(Json(what)))
      if (element.value(key, "") == value)
        return element;
    ADD_FAILURE() << what << " has no " << key << " " << value;
    return nlohmann::json::object();
  }

  fs::path dir_;
  fs::path host_;
};

// The fields as include/hypervconfig.h names them.
TEST_F(Hvcfg, ListingsGiveTheRecordsAsJson) {
  using nlohmann::json;
  struct Case {
    const char* command;
    const char* key;  // picks out one element
    const char* value;
    json members;
  };
  const Case cases[] = {
      {"ports",
       "DeviceID",
       kFreeNic,
       {{"ElementName", "Intel(R) PRO/1000 PT Dual Port Server Adapter"}, {"HealthState", 5}}},
      {"switches",
       "ElementName",
       "External Network",
       {{"PortDeviceID", "{6E1C1F2A-6B5D-4C4E-9A43-2F4B1D7C8E01}"},
        {"SwitchType", 1},
        {"PortName", "Broadcom BCM5709C NetXtreme II GigE (NDIS VBD Client) #41"},
        {"EnabledState", 2}}},
      {"switches", "ElementName", "Internal Network", {{"SwitchType", 2}, {"HealthState", 5}}},
      {"vms",
       "ElementName",
       "WEB01",
       {{"EnabledState", 2},
        {"SwitchCount", 2},
        {"AdapterCount", 2},
        {"SwitchName", {"9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27", kInternal}},
        {"SwitchElementName", {"External Network", "Internal Network"}}}},
      {"vms", "ElementName", "SQL01", {{"EnabledState", 3}, {"SwitchCount", 0}, {"SwitchName", json::array()}}},
      {"vms", "ElementName", "PRINT-SRV", {{"HealthState", 20}}},
      {"adapters",
       "Address",
       "00155D010A05",
       {{"ElementName", "Legacy Network"},
        {"Connection", ""},
        {"InstanceID", std::string("Microsoft:") + kSql + "\\F1C7B4E2-9A63-4D85-8C0B-5E2A7D9F3C16"}}},
      {"adapters", "Address", "00155D010A07", {{"Connection", kInternal}}},
  };
  for (const Case& c : cases) {
    const json element = Record(c.command, c.key, c.value);
    for (const auto& [key, value] : c.members.items())
      EXPECT_EQ(element.value(key, json()), value) << c.command << " " << c.value << ": " << key;
  }
  EXPECT_EQ(Record("vms", "ElementName", "WEB01")["Adapters"][0]["InstanceID"],
            std::string("Microsoft:") + kWeb + "\\1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35");
  const std::string vms = Json("vms");
  EXPECT_EQ(std::count(vms.begin(), vms.end(), '\n'), 5 + 2);  // the brackets and one line a machine
}

// Display names JSON-escaped, and non-ASCII text as UTF-8 whatever 8-bit text the records hold.
TEST_F(Hvcfg, TextsAreEscapedIntoValidJson) {
  HostDescription description = simhost::provider::default_host_description();
  description.vms[0].element_name = L"tab\t\"quoted\" back\\slash caf\u00e9";
  Save(description);
  EXPECT_EQ(Record("vms", "Name", kWeb)["ElementName"], "tab\t\"quoted\" back\\slash caf\xC3\xA9");
}

// With --verbose the console goes to standard error (OneMachineIsResolvedWithoutTheInventory).
TEST_F(Hvcfg, TablesForPeopleKeepTheLibrarysConsoleOffStandardOutput) {
  const Result r = Run({"vms"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("HypervConfig::"), std::string::npos) << r.out;
  for (const char* text :
       {"Saved (32769)", "Paused (32768)", "Major failure (20)", "Legacy Network   00155D010A05  (not connected)",
        "PRINT-SRV    Network Adapter  00155D010A07  Internal Network"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << " in\n" << r.out;
}

TEST_F(Hvcfg, HelpForEachCommandAndTheTour) {
  const Result all = Run({"--help"}, false);
  EXPECT_EQ(all.code, 0);
  for (const char* command : {"vms", "switches", "ports", "adapters", "start VM", "stop VM", "pause VM", "save VM",
                              "reset VM", "shutdown VM", "state VM N", "create-switch NAME", "delete-switch SWITCH",
                              "connect SWITCH VM MAC", "disconnect SWITCH VM MAC", "demo"})
    EXPECT_NE(all.out.find("  " + std::string(command)), std::string::npos) << command;
  const Result help = Run({"help", "create-switch"}, false);
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--external PORT"), std::string::npos);
  EXPECT_EQ(Run({"create-switch", "--help"}, false).out, help.out);
  EXPECT_NE(Run({"help", "help"}, false).out.find("Usage: hvcfg help [COMMAND]"), std::string::npos);
  EXPECT_NE(Run({"connect", "SWITCH", "VM", "MAC", "--help"}, false).out.find("--move"), std::string::npos);
  EXPECT_EQ(Run({"demo", "--help"}, false).out.find("[--host"), std::string::npos);
  // The tour fits 100 columns and names the internal switch's port as the host's.
  const Result demo = Run({"demo"}, false);
  ASSERT_EQ(demo.code, 0) << demo.err;
  std::istringstream lines(demo.out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 100u) << line;
  EXPECT_EQ(demo.out.find("{"), std::string::npos) << demo.out;
}

// Refusals: the exit status, the reason, and the host file left as it was.
TEST_F(Hvcfg, BadInputIsRefusedWithItsReason) {
  HostDescription twins = simhost::provider::default_host_description();
  twins.vms[1].element_name = twins.vms[0].element_name;  // two WEB01
  twins.switches.push_back({L"5E0C3B7A-1D2F-4A6B-8C9D-0E1F2A3B4C5D", L"External Network", L"", false, {}});
  Write(host_, simhost::provider::to_json(twins));
  const std::string before = Slurp(host_);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  const Case cases[] = {
      {{"start", "NO-SUCH-VM"}, 1, "no VM is named \"NO-SUCH-VM\""},
      {{"start", "WEB01"}, 1, "\"WEB01\" names 2 VMs (4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97, 7F2C5A9E"},
      {{"delete-switch", "No Such Switch"}, 1, "no switch is named \"No Such Switch\""},
      {{"delete-switch", "9b4e6f1c-2a7d-4e83-b5c9-1f0d3a8e6b27"}, 1, "2 switches are named \"External Network\""},
      {{"connect", "No Such Switch", kSql, "00155D010A05"}, 1, "no switch is named"},
      {{"connect", kInternal, "NO-SUCH-VM", "00155D010A05"}, 1, "no VM is named"},
      {{"connect", kInternal, "SQL01", "00155D0A0A0A"},
       1,
       "SQL01 has no adapter with MAC 00155D0A0A0A (its adapters: 00155D010A04, 00155D010A05)"},
      {{"create-switch", "Uplink", "--external", "No Such Port"},
       1,
       "no external port has the DeviceID or display name"},
      {{"start"}, 2, "start needs 1 argument"},
      {{"state", "SQL01"}, 2, "state needs 2 arguments"},
      {{"state", "SQL01", "two"}, 2, "state N must be a number"},
      {{"vms", "extra"}, 2, "vms takes only 0 arguments"},
      {{"create-switch", "Lab"}, 2, "give one of --internal, --external PORT, --unbound"},
      {{"create-switch", "Lab", "--internal", "--unbound"}, 2, "give one of"},
      {{"create-switch", "Lab", "--external"}, 2, "--external needs a value"},
      {{"start", "SQL01", "--internal"}, 2, "apply to create-switch"},
      {{"connect", kInternal, "SQL01", "00155D01"}, 2, "MAC must be 12 hexadecimal digits"},
      {{"--json", "start", "SQL01"}, 2, "--json applies to"},
      {{"frobnicate"}, 2, "no command frobnicate"},
      {{"--frob", "vms"}, 2, "unknown option --frob"},
      {{"demo"}, 2, "--host does not apply"},
      {{"state", "SQL01", "-1"}, 2, "state N must be a number from 0 to 65535"},
      {{"connect", kInternal, "SQL01", "0-0155D010A05-"}, 2, "MAC must be"},
      {{"connect", kInternal, "SQL01", "00-15:5D-01-0A-05"}, 2, "MAC must be"},
      // A switch name the library could not find again.
      {{"create-switch", "Lab's", "--unbound"}, 2, "unescaped"},
      {{"create-switch", "Lab \\ 1", "--unbound"}, 2, "refuses a backslash"},
      {{"create-switch", std::string(128, 'x'), "--unbound"}, 2, "keeps 127"},
      {{"create-switch", "\xE7\xBD\x91\xE7\xBB\x9C", "--unbound"}, 2, "printable ASCII"},
      {{"create-switch", "", "--unbound"}, 2, "needs a name"},
      {{"create-switch", "internal NETWORK", "--unbound"}, 2, "exists already"},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.args[0];
  }
  EXPECT_EQ(Slurp(host_), before);
  EXPECT_EQ(Run({}, false).code, 2);
}

TEST_F(Hvcfg, SwitchesAreCreatedAndDeleted) {
  Result r = Run({"create-switch", "Lab \"A\" 1", "--internal"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Created internal switch \"Lab \"A\" 1\"\n");
  r = Run({"create-switch", "Uplink", "--external", "Intel(R) PRO/1000 PT Dual Port Server Adapter"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Created external switch \"Uplink\" on " + std::string(kFreeNic) + "\n");
  r = Run({"create-switch", "Island", "--unbound"});
  ASSERT_EQ(r.code, 0) << r.err;

  EXPECT_EQ(Record("switches", "ElementName", "Lab \"A\" 1")["SwitchType"], 2);
  const nlohmann::json uplink = Record("switches", "ElementName", "Uplink");
  EXPECT_EQ(uplink["SwitchType"], 1);
  EXPECT_EQ(uplink["PortDeviceID"], kFreeNic);
  EXPECT_EQ(Record("switches", "ElementName", "Island")["SwitchType"], 0);

  // By display name and by Name.
  r = Run({"delete-switch", "Lab \"A\" 1"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Deleted switch \"Lab \"A\" 1\" (", 0), 0u) << r.out;
  EXPECT_EQ(Run({"delete-switch", uplink["Name"].get<std::string>()}).code, 0);
  const std::string switches = Json("switches");
  EXPECT_EQ(switches.find("Lab"), std::string::npos);
  EXPECT_EQ(switches.find("Uplink"), std::string::npos);
  EXPECT_NE(switches.find("Island"), std::string::npos);
  EXPECT_NE(Json("ports").find(kFreeNic), std::string::npos);  // the port is free again
}

TEST_F(Hvcfg, StateCommandsMoveTheMachine) {
  struct Step {
    std::vector<std::string> args;
    std::string vm;  // display name
    std::string out;
    int enabledState;
  };
  const Step steps[] = {
      {{"start", "{" + std::string(kSql) + "}"}, "SQL01", "Off (3) -> Running (2)", 2},
      {{"pause", "SQL01"}, "SQL01", "Running (2) -> Paused (32768)", 32768},
      {{"save", kSql}, "SQL01", "Paused (32768) -> Saved (32769)", 32769},
      {{"start", "SQL01"}, "SQL01", "Saved (32769) -> Running (2)", 2},
      {{"reset", "SQL01"}, "SQL01", "Running (2) -> Running (2)", 2},
      {{"state", "SQL01", "3"}, "SQL01", "Running (2) -> Off (3)", 3},
      // The guest is still stopping when the call returns; the saved host has it off.
      {{"shutdown", "WEB01"}, "WEB01", "Running (2) -> Stopping (32774)", 3},
      {{"stop", "BUILD-AGENT"}, "BUILD-AGENT", "Running (2) -> Off (3)", 3},
  };

  for (const Step& step : steps) {
    const Result r = Run(step.args);
    ASSERT_EQ(r.code, 0) << step.args[0] << ": " << r.err;
    EXPECT_EQ(r.out, step.vm + ": " + step.out + "\n");
    EXPECT_EQ(Record("vms", "ElementName", step.vm)["EnabledState"], step.enabledState) << step.args[0];
  }
}

TEST_F(Hvcfg, ConnectAndDisconnectActOnlyWhereTheAdapterIs) {
  // Ports that no adapter uses.
  const auto orphans = [&] {
    const HostDescription description = Description();
    std::size_t count = 0;
    for (const auto& sw : description.switches)
      for (const auto& port : sw.ports) {
        bool used = false;
        for (const auto& vm : description.vms)
          for (const auto& adapter : vm.adapters)
            used = used || adapter.port == port.name;
        count += used ? 0 : 1;
      }
    return count;
  };
  const std::size_t orphansBefore = orphans();
  const std::string before = Slurp(host_);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case refused[] = {
      {{"disconnect", "Internal Network", "WEB01", "00155D010A01"},
       "is connected to \"External Network\", not to \"Internal Network\""},
      {{"disconnect", "Internal Network", "SQL01", "00155D010A05"}, "00155D010A05 is not connected"},
      {{"connect", "Internal Network", "WEB01", "00155D010A01"}, "give --move to move it to \"Internal Network\""},
      {{"connect", "External Network", "WEB01", "00155D010A01"}, "is connected to \"External Network\" already"},
  };
  for (const Case& c : refused) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, 1) << c.args[0];
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_EQ(Slurp(host_), before);

  const Result moved = Run({"connect", "Internal Network", "WEB01", "00155D010A01", "--move"});
  ASSERT_EQ(moved.code, 0) << moved.err;
  EXPECT_EQ(moved.out, "Moved WEB01's adapter 00155D010A01 from \"External Network\" to \"Internal Network\"\n");
  EXPECT_EQ(Record("adapters", "Address", "00155D010A01")["Connection"], kInternal);
  EXPECT_EQ(orphans(), orphansBefore);  // the old port went with the move
}

// The library's failure explained in the tool's words after its own lines, which stay as they are.
TEST_F(Hvcfg, FailuresSayWhatTheReturnValueMeans) {
  const std::string before = Slurp(host_);
  const Result off = Run({"stop", "SQL01"});
  EXPECT_EQ(off.code, 1);
  EXPECT_EQ(off.out, "");
  EXPECT_EQ(Slurp(host_), before);
  EXPECT_NE(off.err.find("log: Return value of RequestStateChange method -32761\n"), std::string::npos) << off.err;
  EXPECT_NE(off.err.find("hvcfg: SetVMState failed: 32775, invalid state: the VM is already off"), std::string::npos)
      << off.err;
  const Result paused = Run({"pause", "SQL01"});
  EXPECT_NE(paused.err.find("32775, invalid state: a VM that is off cannot be given Paused (32768)"), std::string::npos)
      << paused.err;
  const Result shutdown = Run({"shutdown", "SQL01"});
  EXPECT_NE(shutdown.err.find("the guest cannot be asked to shut down: the VM is off"), std::string::npos)
      << shutdown.err;
  // With the library's console shown, its unfinished lines are ended before the tool's and log's.
  const Result verbose = Run({"--verbose", "stop", "SQL01"});
  EXPECT_NE(verbose.err.find("GetMethod returned 0x0:"), std::string::npos) << verbose.err;
  for (const char* start : {"log: ", "hvcfg: "})
    for (std::size_t at = verbose.err.find(start); at != std::string::npos; at = verbose.err.find(start, at + 1))
      EXPECT_TRUE(at == 0 || verbose.err[at - 1] == '\n') << start << " inside a line of\n" << verbose.err;
}

TEST_F(Hvcfg, TablesShowAdaptersAndEscapeControlCharacters) {
  HostDescription description = simhost::provider::default_host_description();
  description.vms[2].element_name = L"SQL\t01\x1b[31m";
  // 25 adapters, one more than a record holds.
  for (int a = 0; description.vms[0].adapters.size() < 25; ++a) {
    wchar_t guid[40];
    std::swprintf(guid, 40, L"5D0C1B2A-0000-4000-8000-%012d", a);
    description.vms[0].adapters.push_back({guid, L"Extra", L"", false, {}, L"", L""});
  }
  Save(description);
  const Result adapters = Run({"adapters"});
  ASSERT_EQ(adapters.code, 0) << adapters.err;
  EXPECT_EQ(adapters.out.rfind("VM ", 0), 0u) << adapters.out;
  EXPECT_EQ(adapters.out.find("STATE"), std::string::npos) << adapters.out;
  EXPECT_NE(adapters.out.find("SQL\\t01\\x1B[31m  Legacy Network   00155D010A05  (not connected)"), std::string::npos)
      << adapters.out;
  EXPECT_EQ(adapters.out.find('\x1b'), std::string::npos);
  EXPECT_NE(adapters.err.find("\"WEB01\" has 25 adapters, and its record holds 24"), std::string::npos) << adapters.err;
}

// More records than any fixed buffer would hold.
TEST_F(Hvcfg, ListingsFitAHostOfAnySize) {
  HostDescription description = simhost::provider::default_host_description();
  constexpr int kMany = 4200;  // past 4096 by more than a page of records
  const std::vector<std::string> listings =
      kSlowRuns ? std::vector<std::string>{"ports"} : std::vector<std::string>{"switches", "ports"};
  for (int i = 0; i < kMany; ++i) {
    wchar_t guid[40];
    std::swprintf(guid, 40, L"6A1B2C3D-0000-4000-8000-%012d", i);
    if (listings.size() > 1)
      description.switches.push_back({guid, L"S" + std::to_wstring(i), L"", false, {}});
    description.external_ports.push_back({L"{" + std::wstring(guid) + L"}", L"P" + std::to_wstring(i)});
  }
  Save(description);
  for (const std::string& what : listings) {
    const Result r = Run({"--json", what});
    ASSERT_EQ(r.code, 0) << what << ": " << r.err;
    EXPECT_GT(nlohmann::json::parse(r.out).size(), static_cast<std::size_t>(kMany)) << what;
  }
}

TEST_F(Hvcfg, HostFileErrorsSayWhich) {
  struct Case {
    fs::path file;
    std::string err;
  };
  fs::create_directories(dir_ / "folder");
  Write(dir_ / "broken.json", "{\"vms\": [");
  Write(dir_ / "guid.json", "{\"vms\": [{\"name\": \"not a guid\"}]}");
  const Case cases[] = {
      {dir_ / "missing.json", "no such file"},
      {dir_ / "guid.json", "vms[0].name"},
      {dir_ / "folder", "is a directory"},
      {dir_ / "broken.json", "not valid JSON: parse error"},
  };
  for (const Case& c : cases) {
    host_ = c.file;
    const Result r = Run({"vms"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("hvcfg: host file " + c.file.string() + ": " + c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("host file", r.err.find("host file") + 1), std::string::npos) << r.err;
  }
}

#if !defined(_WIN32)
// Root reads any file, so a file nobody may read is tried as an unprivileged user would.
TEST_F(Hvcfg, AnUnreadableHostFileSaysPermissionDenied) {
  fs::permissions(host_, fs::perms::none);
  const std::string as_user = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const Result r = Run({"vms"}, true, "", "", as_user);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_NE(r.err.find("hvcfg: host file " + host_.string() + ": permission denied"), std::string::npos) << r.err;
  fs::permissions(host_, fs::perms::owner_read | fs::perms::owner_write);
}

// What a shared folder or a full disk may do to the host file.
TEST_F(Hvcfg, TheHostFileIsReplacedSafelyOrNotAtAll) {
  // A planted temporary name is never followed.
  const fs::path victim = dir_ / "victim";
  Write(victim, "keep");
  fs::create_symlink(victim, fs::path(host_.string() + ".tmp"));
  ASSERT_EQ(Run({"create-switch", "A", "--unbound"}).code, 0);
  EXPECT_EQ(Slurp(victim), "keep");
  // The permissions stay.
  fs::permissions(host_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_EQ(Run({"create-switch", "B", "--unbound"}).code, 0);
  EXPECT_EQ(fs::status(host_).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // A read-only file is refused, and stays read-only.
  const std::string withB = Slurp(host_);
  fs::permissions(host_, fs::perms::owner_read | fs::perms::group_read);
  Result r = Run({"create-switch", "C", "--unbound"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(host_), withB);
  EXPECT_EQ(fs::status(host_).permissions(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(Run({"switches"}).code, 0);  // reading it is fine
  fs::permissions(host_, fs::perms::owner_read | fs::perms::owner_write);
  // A symbolic link is written through and stays a link.
  const fs::path link = dir_ / "link.json";
  fs::create_symlink(host_, link);
  const fs::path target = host_;
  host_ = link;
  ASSERT_EQ(Run({"create-switch", "D", "--unbound"}).code, 0);
  host_ = target;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Record("switches", "ElementName", "D")["SwitchType"], 0);
  // A write that fails (a file size limit here) claims nothing and leaves the file.
  const std::string withD = Slurp(host_);
  r = Run({"create-switch", "E", "--unbound"}, true, "", "", "trap '' XFSZ; ulimit -f 1; ");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("the change is lost"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(host_), withD);
  // Standard output that cannot be written is a failure.
  EXPECT_EQ(Run({"vms"}, true, "", "/dev/full").code, 1);
}
#endif

// Several hvcfg at once on one host file, good commands and bad: each process works on its own
// machine and switches and checks after every command that the file has exactly what it was told.
TEST_F(Hvcfg, ConcurrentRandomSessionsLoseNothing) {
  const int kWorkers = kSlowRuns ? 3 : 4, kCommands = kSlowRuns ? 6 : 60;
  HostDescription description = simhost::provider::default_host_description();
  for (int w = 0; w < kWorkers; ++w) {
    wchar_t vm[40], adapter[40], mac[16];
    std::swprintf(vm, 40, L"7B000000-0000-4000-8000-%012d", w);
    std::swprintf(adapter, 40, L"7C000000-0000-4000-8000-%012d", w);
    std::swprintf(mac, 16, L"00155D7700%02d", w);
    description.vms.push_back({vm, L"W" + std::to_wstring(w), 3, 5, true, {{adapter, L"A", mac, true, {}, L"", L""}}});
  }
  Save(description);
  // 20 creations at once: every one kept.
  {
    std::vector<std::thread> creators;
    std::vector<int> codes(20, -1);
    for (int i = 0; i < 20; ++i)
      creators.emplace_back([&, i] {
        codes[i] = Run({"create-switch", "C" + std::to_string(i), "--unbound"}, true, "c" + std::to_string(i)).code;
      });
    for (std::thread& t : creators)
      t.join();
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(codes[i], 0) << i;
    EXPECT_EQ(Description().switches.size(), description.switches.size() + 20);
  }
  std::vector<std::string> failures(kWorkers);
  const auto worker = [&](int w) {
    std::mt19937 random(static_cast<unsigned>(w) * 7919u + 1u);
    const std::wstring vmName = L"W" + std::to_wstring(w);
    char macText[16];
    std::snprintf(macText, sizeof macText, "00155D7700%02d", w);
    const std::string vm = "W" + std::to_string(w), mac = macText, tag = "w" + std::to_string(w);
    std::vector<std::string> mine;  // this worker's switches
    std::string connected;          // the switch the adapter is on
    int state = 3;
    for (int i = 0; i < kCommands && failures[w].empty(); ++i) {
      const std::string fresh = vm + "-S" + std::to_string(i);
      const std::string some = mine.empty() ? fresh : mine[random() % mine.size()];
      const unsigned pick = random() % 9;
      const std::vector<std::string> choices[] = {
          {"create-switch", fresh, "--unbound"},
          {"create-switch", fresh, "--unbound"},
          {"delete-switch", some},
          {"connect", some, vm, mac},
          {"disconnect", some, vm, mac},
          {pick == 5 && random() % 2 ? "start" : "stop", vm},
          {"create-switch", some, "--internal"},        // taken, or by now fresh
          {"create-switch", fresh + "'", "--unbound"},  // never
          {"connect", some, vm, mac, "--move"},
      };
      const std::vector<std::string>& args = choices[pick];
      const Result r = Run(args, true, tag);
      const std::string done = r.code == 0 ? args[0] : "";
      if (done == "create-switch")
        mine.push_back(args[1]);
      if (done == "delete-switch")
        mine.erase(std::find(mine.begin(), mine.end(), args[1]));
      if (done == "connect" || done == "disconnect" || (done == "delete-switch" && connected == args[1]))
        connected = done == "connect" ? args[1] : "";  // a deleted switch's ports went with it
      if (done == "start" || done == "stop")
        state = done == "start" ? 2 : 3;
      // The file loads and holds exactly this worker's view.
      const std::string text = Slurp(host_);
      auto now = simhost::provider::parse_host_json(text);
      std::string step = args[0] + " " + args[1] + " -> " + std::to_string(r.code) + " " + r.err;
      if (!now) {
        failures[w] = step + ": the file does not load";
        continue;
      }
      std::vector<std::string> listed;
      std::string on;
      for (const auto& sw : now.value().switches) {
        const std::string name(sw.element_name.begin(), sw.element_name.end());
        if (name.rfind(vm + "-", 0) == 0)
          listed.push_back(name);
      }
      for (const auto& machine : now.value().vms)
        if (machine.element_name == vmName) {
          if (machine.enabled_state != state)
            failures[w] = step + ": state " + std::to_string(machine.enabled_state);
          for (const auto& sw : now.value().switches)
            for (const auto& port : sw.ports)
              if (!machine.adapters.empty() && port.name == machine.adapters[0].port)
                on.assign(sw.element_name.begin(), sw.element_name.end());
        }
      std::vector<std::string> expected = mine;
      std::sort(expected.begin(), expected.end());
      std::sort(listed.begin(), listed.end());
      if (listed != expected)
        failures[w] = step + ": switches differ";
      if (on != connected)
        failures[w] = step + ": adapter on \"" + on + "\", expected \"" + connected + "\"";
    }
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w)
    workers.emplace_back(worker, w);
  for (std::thread& t : workers)
    t.join();
  for (const std::string& failure : failures)
    EXPECT_EQ(failure, "");
}

// The state commands and the plugs look at one machine, not the whole inventory; a MAC may be
// written with dashes or colons, in either case.
TEST_F(Hvcfg, OneMachineIsResolvedWithoutTheInventory) {
  const Result start = Run({"--verbose", "start", "SQL01"});
  ASSERT_EQ(start.code, 0) << start.err;
  EXPECT_EQ(start.err.find("GetVirtualNetworkAdapters"), std::string::npos) << start.err;
  const Result plug = Run({"--verbose", "connect", kInternal, "SQL01", "00-15-5d-01-0a-05"});
  ASSERT_EQ(plug.code, 0) << plug.err;
  EXPECT_EQ(plug.out, "Connected SQL01's adapter 00155D010A05 to \"Internal Network\"\n");
  EXPECT_EQ(Record("adapters", "Address", "00155D010A05")["Connection"], kInternal);
  std::size_t queries = 0;
  for (std::size_t at = plug.err.find("like 'Microsoft:"); at != std::string::npos;
       at = plug.err.find("like 'Microsoft:", at + 1), ++queries)
    EXPECT_EQ(plug.err.compare(at + 16, 36, kSql), 0) << plug.err;
  EXPECT_EQ(queries, 1u);
  const Result unplug = Run({"disconnect", kInternal, kSql, "00:15:5D:01:0A:05"});
  ASSERT_EQ(unplug.code, 0) << unplug.err;
  EXPECT_EQ(unplug.out, "Disconnected SQL01's adapter 00155D010A05 from \"Internal Network\"\n");
  EXPECT_EQ(Record("adapters", "Address", "00155D010A05")["Connection"], "");
}

}  // namespace
