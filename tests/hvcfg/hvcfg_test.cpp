// hvcfg as a user runs it: exit status, standard output and standard error of whole commands on a
// simulated host kept in a file between them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "simhost/provider/host_description.hpp"

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using simhost::provider::HostSpec;

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

// The element of a top-level JSON array that holds `member`: hvcfg writes one element a line.
std::string Element(const std::string& json, const std::string& member) {
  std::istringstream lines(json);
  std::string line, found;
  int count = 0;
  while (std::getline(lines, line))
    if (line.find(member) != std::string::npos)
      found = line, ++count;
  EXPECT_EQ(count, 1) << member << " in\n" << json;
  return found;
}

// The text of a string member of one JSON element, unescaped only as far as the tests need.
std::string Member(const std::string& element, const std::string& key) {
  const std::string start = "\"" + key + "\": \"";
  const std::size_t at = element.find(start);
  if (at == std::string::npos)
    return "<no " + key + ">";
  return element.substr(at + start.size(), element.find('"', at + start.size()) - at - start.size());
}

constexpr char kWeb[] = "4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";
constexpr char kSql[] = "B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";
constexpr char kInternal[] = "2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852";
constexpr char kFreeNic[] = "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}";

class Hvcfg : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("hvcfg_" + std::string(info->name()) + "_" + std::to_string(Pid()));
    fs::create_directories(dir_);
    host_ = dir_ / "host.json";
    Write(host_, simhost::provider::to_json(simhost::provider::default_host_spec()));
  }
  void TearDown() override { fs::remove_all(dir_); }

  static long Pid() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
  }

  // hvcfg with `args`, on the test's host file unless `onHost` is false.
  Result Run(const std::vector<std::string>& args, bool onHost = true) {
    std::string command = Quote(Executable());
    if (onHost)
      command += " --host " + Quote(host_.string());
    for (const std::string& arg : args)
      command += " " + Quote(arg);
    command += " >" + Quote((dir_ / "out").string()) + " 2>" + Quote((dir_ / "err").string());
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
    result.out = Slurp(dir_ / "out");
    result.err = Slurp(dir_ / "err");
    return result;
  }

  static std::string Executable() {
    std::string path = HVCFG_PATH;
#if defined(_WIN32)
    if (!path.empty() && path[0] == '/')
      path = "Z:" + path;  // Wine's view of the build tree
#endif
    return path;
  }

  // `hvcfg --json WHAT`, which must succeed quietly.
  std::string Json(const std::string& what) {
    const Result r = Run({"--json", what});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("[", 0), 0u) << r.out;
    return r.out;
  }

  fs::path dir_;
  fs::path host_;
};

TEST_F(Hvcfg, ListingsGiveTheRecordsAsJson) {
  struct Case {
    const char* command;
    std::string key;  // picks out one element
    std::vector<std::string> members;
  };
  const Case cases[] = {
      {"ports",
       "\"DeviceID\": \"{A7D3E9B0",
       {"\"ElementName\": \"Intel(R) PRO/1000 PT Dual Port Server Adapter\"", "\"HealthState\": 5}"}},
      {"switches",
       "\"ElementName\": \"External Network\"",
       {"\"PortDeviceID\": \"{6E1C1F2A-6B5D-4C4E-9A43-2F4B1D7C8E01}\"", "\"SwitchType\": 1",
        "\"PortName\": \"Broadcom BCM5709C NetXtreme II GigE (NDIS VBD Client) #41\"", "\"EnabledState\": 2"}},
      {"switches", "\"ElementName\": \"Internal Network\"", {"\"SwitchType\": 2", "\"HealthState\": 5"}},
      {"vms",
       "\"ElementName\": \"WEB01\"",
       {"\"EnabledState\": 2", "\"SwitchCount\": 2", "\"AdapterCount\": 2",
        "{\"Name\": \"" + std::string(kInternal) + "\", \"ElementName\": \"Internal Network\"}",
        "\"InstanceID\": \"Microsoft:" + std::string(kWeb) + "\\\\1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35\"",
        "\"Address\": \"00155D010A01\""}},
      {"vms",
       "\"ElementName\": \"SQL01\"",
       {"\"EnabledState\": 3", "\"SwitchCount\": 0, \"Switches\": []",
        "\"ElementName\": \"Legacy Network\", \"Address\": \"00155D010A05\", \"Connection\": \"\"}"}},
      {"vms",
       "\"ElementName\": \"PRINT-SRV\"",
       {"\"HealthState\": 20", "\"Connection\": \"" + std::string(kInternal) + "\""}},
      {"adapters",
       "\"ElementName\": \"TEST-CLIENT\"",
       {"\"Name\": \"E9B3D6A1-8F24-4C7E-A5D1-7B0E3F9C2A68\"", "\"HealthState\": 5, \"EnabledState\": 32769}"}},
  };
  for (const Case& c : cases) {
    const std::string element = Element(Json(c.command), c.key);
    for (const std::string& member : c.members)
      EXPECT_NE(element.find(member), std::string::npos) << c.command << ": " << member << " in " << element;
  }
  const std::string vms = Json("vms");
  EXPECT_EQ(std::count(vms.begin(), vms.end(), '\n'), 5 + 2);  // the brackets and one line a machine
}

// Display names JSON-escaped, and non-ASCII text as UTF-8 whatever 8-bit text the records hold.
TEST_F(Hvcfg, TextsAreEscapedIntoValidJson) {
  HostSpec spec = simhost::provider::default_host_spec();
  spec.vms[0].element_name = L"tab\t\"quoted\" back\\slash caf\u00e9";
  Write(host_, simhost::provider::to_json(spec));
  const std::string vms = Json("vms");
  EXPECT_NE(vms.find("\"ElementName\": \"tab\\t\\\"quoted\\\" back\\\\slash caf\xC3\xA9\""), std::string::npos) << vms;
}

TEST_F(Hvcfg, TablesForPeopleKeepTheLibrarysConsoleOffStandardOutput) {
  Result r = Run({"vms"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("HypervConfig::"), std::string::npos) << r.out;
  for (const char* text :
       {"Saved (32769)", "Paused (32768)", "Major failure (20)", "Legacy Network   00155D010A05  (not connected)",
        "PRINT-SRV    Network Adapter  00155D010A07  Internal Network"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << " in\n" << r.out;

  r = Run({"--verbose", "vms"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.find("HypervConfig::"), std::string::npos);
  EXPECT_NE(r.err.find("HypervConfig::GetVirtualNetworkAdapters "), std::string::npos) << r.err;
}

TEST_F(Hvcfg, HelpForTheToolAndEachCommand) {
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
}

// Refusals: the exit status, the reason, and the host file left as it was.
TEST_F(Hvcfg, BadInputIsRefusedWithItsReason) {
  HostSpec twins = simhost::provider::default_host_spec();
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
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.args[0];
  }
  EXPECT_EQ(Slurp(host_), before);
  EXPECT_EQ(Run({}, false).code, 2);
}

TEST_F(Hvcfg, HostFilesThatCannotBeLoadedAreNamedWithTheFieldAtFault) {
  Write(host_, "{\"vms\": [{\"name\": \"not a guid\"}]}");
  Result r = Run({"vms"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("hvcfg: host file " + host_.string() + ": vms[0].name"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Slurp(host_), "{\"vms\": [{\"name\": \"not a guid\"}]}");

  fs::remove(host_);
  r = Run({"vms"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("cannot open it"), std::string::npos) << r.err;
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

  std::string switches = Json("switches");
  EXPECT_NE(Element(switches, "\"ElementName\": \"Lab \\\"A\\\" 1\"").find("\"SwitchType\": 2"), std::string::npos);
  const std::string uplink = Element(switches, "\"ElementName\": \"Uplink\"");
  EXPECT_NE(uplink.find("\"SwitchType\": 1"), std::string::npos) << uplink;
  EXPECT_NE(uplink.find("\"PortDeviceID\": \"" + std::string(kFreeNic) + "\""), std::string::npos) << uplink;
  EXPECT_NE(Element(switches, "\"ElementName\": \"Island\"").find("\"SwitchType\": 0"), std::string::npos);

  // By display name and by Name.
  r = Run({"delete-switch", "Lab \"A\" 1"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Deleted switch \"Lab \"A\" 1\" (", 0), 0u) << r.out;
  EXPECT_EQ(Run({"delete-switch", Member(uplink, "Name")}).code, 0);
  switches = Json("switches");
  EXPECT_EQ(switches.find("Lab"), std::string::npos);
  EXPECT_EQ(switches.find("Uplink"), std::string::npos);
  EXPECT_NE(switches.find("Island"), std::string::npos);
  EXPECT_NE(Json("ports").find(kFreeNic), std::string::npos);  // the port is free again
}

TEST_F(Hvcfg, AdaptersAreConnectedAndDisconnected) {
  Result r = Run({"connect", "Internal Network", "SQL01", "00-15-5d-01-0a-05"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Connected SQL01's adapter 00155D010A05 to \"Internal Network\"\n");
  const auto connection = [&] {
    const std::string sql = Element(Json("vms"), "\"ElementName\": \"SQL01\"");
    return Member(sql.substr(sql.find("\"Address\": \"00155D010A05\"")), "Connection");
  };
  EXPECT_EQ(connection(), kInternal);

  r = Run({"disconnect", kInternal, kSql, "00155D010A05"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Disconnected SQL01's adapter 00155D010A05 from \"Internal Network\"\n");
  EXPECT_EQ(connection(), "");
}

TEST_F(Hvcfg, StateCommandsMoveTheMachine) {
  struct Step {
    std::vector<std::string> args;
    std::string vm;  // display name
    std::string out;
    int enabledState;
  };
  const Step steps[] = {
      {{"start", "SQL01"}, "SQL01", "Off (3) -> Running (2)", 2},
      {{"pause", "SQL01"}, "SQL01", "Running (2) -> Paused (32768)", 32768},
      {{"save", kSql}, "SQL01", "Paused (32768) -> Saved (32769)", 32769},
      {{"start", "SQL01"}, "SQL01", "Saved (32769) -> Running (2)", 2},
      {{"reset", "SQL01"}, "SQL01", "Running (2) -> Running (2)", 2},
      {{"state", "SQL01", "3"}, "SQL01", "Running (2) -> Off (3)", 3},
      {{"shutdown", "WEB01"}, "WEB01", "Running (2) -> Off (3)", 3},
      {{"stop", "BUILD-AGENT"}, "BUILD-AGENT", "Running (2) -> Off (3)", 3},
  };
  // A change the host refuses: the library's failure with its log, and the file left alone.
  const std::string before = Slurp(host_);
  const Result refused = Run({"reset", "SQL01"});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("log: Return value of RequestStateChange method"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("hvcfg: SetVMState failed"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(Slurp(host_), before);

  for (const Step& step : steps) {
    const Result r = Run(step.args);
    ASSERT_EQ(r.code, 0) << step.args[0] << ": " << r.err;
    EXPECT_EQ(r.out, step.vm + ": " + step.out + "\n");
    const std::string vm = Element(Json("vms"), "\"ElementName\": \"" + step.vm + "\"");
    EXPECT_NE(vm.find("\"EnabledState\": " + std::to_string(step.enabledState) + ","), std::string::npos)
        << step.args[0] << ": " << vm;
  }
}

}  // namespace
