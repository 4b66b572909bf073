#include <string>
#include <vector>

#include "core/bstr.h"
#include "host_fixture.h"

namespace hvctest {
namespace {

using Access = HypervConfigTestAccess;
namespace cim = simhost::cim;

constexpr char kExternal[] = "9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27";
constexpr char kInternal[] = "2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852";
constexpr char kBuildAgent[] = "7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16";  // running, one adapter on External
constexpr char kBuildMac[] = "00155D010A03";
constexpr char kBuildPort[] = "C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22";
constexpr char kSql[] = "B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";  // off, two adapters

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

class Adapters : public HostTest {
 protected:
  std::vector<cim::InstanceId> Find(const std::wstring& query) { return host().query(query)->instances; }
  std::wstring Text(cim::InstanceId id, const wchar_t* name) {
    const auto value = host().repository().property(*host().repository().get(id), name);
    if (value->is_array())
      return std::get<std::wstring>(value->items().at(0));
    return value->is_null() ? L"" : *value->as_string();
  }
  cim::InstanceId BuildAdapter() {
    return Find(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE Address='00155D010A03'").at(0);
  }
  bool PortExists(const std::wstring& name) {
    return !Find(L"SELECT * FROM Msvm_SwitchPort WHERE Name='" + name + L"'").empty();
  }
  // Runs `work` on a connection held open around it; `closedEarly` tells whether the work closed it.
  Outcome OnOpen(const std::function<int()>& work, bool& closedEarly) {
    return Run([&] { return OnOpenConnection(work, &closedEarly); });
  }
  Outcome Add(const char* sw, const char* vm, const char* mac) {
    std::string s = sw, v = vm, m = mac;
    return Run([&] { return config_.AddVirtNetToVirtMachine(s.data(), v.data(), m.data()); });
  }
  Outcome Remove(const char* sw, const char* vm, const char* mac) {
    std::string s = sw, v = vm, m = mac;
    return Run([&] { return config_.RemoveVirtNetFromVirtMachine(s.data(), v.data(), m.data()); });
  }
};

// Its console lines are the sweep's AddVirtNetToVirtMachine baseline.
TEST_F(Adapters, AddingConnectsTheAdapterThroughANewPortOfTheSwitch) {
  EXPECT_EQ(Add(kInternal, kBuildAgent, kBuildMac).result, 0);
  const std::wstring connection = Text(BuildAdapter(), L"Connection");
  const cim::InstanceId port = *host().repository().find(connection);
  const std::wstring name = Text(port, L"Name");
  EXPECT_EQ(Text(port, L"SystemName"), Wide(kInternal));
  EXPECT_EQ(Text(port, L"ElementName"), L"Torvane PX created");
  EXPECT_EQ(name.size(), 36u);
  EXPECT_TRUE(PortExists(Wide(kBuildPort)));  // the former port stays on its switch
  // The settings handed to the modify call already carry the new Connection.
  const std::wstring settings = MethodDetail(L"ModifyVirtualSystemResources");
  EXPECT_NE(settings.find(L"ResourceSettingData={<INSTANCE"), std::wstring::npos);
  EXPECT_NE(settings.find(L"\"Connection\""), std::wstring::npos);
  EXPECT_NE(settings.find(L"<VALUE.ARRAY><VALUE>" + connection + L"</VALUE>"), std::wstring::npos);
}

TEST_F(Adapters, RemovingDeletesTheActualPortWhicheverSwitchIsNamed) {
  const Outcome outcome = Remove(kInternal, kBuildAgent, kBuildMac);  // the adapter is on External
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.log, std::vector<std::string>{});
  EXPECT_NE(outcome.out.find("\nDetachSwitchPortFromVirtualNetAdapter\nPath variable "), std::string::npos);
  EXPECT_EQ(Text(BuildAdapter(), L"Connection"), L"");
  EXPECT_FALSE(PortExists(Wide(kBuildPort)));
  EXPECT_EQ(Calls(L"ExecMethod"), (std::vector<std::wstring>{L"ModifyVirtualSystemResources", L"DeleteSwitchPort"}));
}

// A key with a quote makes a malformed query, which a real host reports at the first Next: the
// machine is "not fetched" rather than "not located".
TEST_F(Adapters, AQuoteInTheKeyFailsAtTheFirstNextSoTheMachineIsNotFetchedRatherThanNotLocated) {
  const Outcome outcome = Add(kInternal, "it's", kBuildMac);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.log, std::vector<std::string>{"Unable to fetch VM instance for it's"});
  EXPECT_EQ(Outcomes(L"Select * from Msvm_ComputerSystem where Name='it's'"),
            (std::vector<std::string>{"ExecQuery 0", "Next 0x80041017"}));
}

TEST_F(Adapters, RemovingFromAPortThatNoLongerExistsFails) {
  const std::wstring port = Text(BuildAdapter(), L"Connection");
  const auto service = Find(L"SELECT * FROM Msvm_VirtualSwitchManagementService").at(0);
  host().invoke(host().repository().path_text(*host().repository().get(service)), L"DeleteSwitchPort",
                {{L"SwitchPort", cim::Value::reference(port)}});
  const Outcome outcome = Remove(kExternal, kBuildAgent, kBuildMac);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.log, (std::vector<std::string>{"Unable to fetch Msvm_SwitchPort object",
                                                   "Unable to get details of switchport 0x1\n"}));
  EXPECT_EQ(Text(BuildAdapter(), L"Connection"), port);
}

// A Connection that names no port in a usable way: nothing to remove, both outputs untouched.
TEST_F(Adapters, AConnectionWithoutAPortNameHasNoPortToRemove) {
  const std::vector<std::vector<std::wstring>> connections = {
      {}, {L"\\\\H\\root\\virtualization:Msvm_SwitchPort.Name=\"C81E\""}, {L"a=\"b\",Name=\"C81E"}};
  for (int i = -1; i < static_cast<int>(connections.size()); ++i) {
    IWbemClassObject* port = nullptr;
    hvc::VariantHolder portPath;
    bool closedEarly = false;
    const Outcome outcome = OnOpen(
        [&] {
          hvc::ComPtr<IWbemClassObject> adapter =
              hvc::FirstObject("SELECT * FROM Msvm_SyntheticEthernetPortSettingData");
          hvc::VariantHolder value;  // i = -1: a null Connection
          if (i >= 0) {
            value.Get().vt = VT_ARRAY | VT_BSTR;
            value.Get().parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(connections[i].size()));
            for (LONG at = 0; at < static_cast<LONG>(connections[i].size()); ++at)
              SafeArrayPutElement(value.Get().parray, &at, hvc::WideBstr(connections[i][at].c_str()).Get());
          }
          EXPECT_EQ(adapter->Put(L"Connection", 0, i >= 0 ? &value.Get() : nullptr, 0), 0);
          return static_cast<int>(
              Access::Call(config_, Access::GetSwitchPortDetails, adapter.Get(), &port, &portPath.Get()));
        },
        closedEarly);
    EXPECT_EQ(outcome.result, 1) << i;
    EXPECT_EQ(outcome.log, std::vector<std::string>{"Unable to find switchport to delete\n"});
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(portPath.Get().vt, VT_EMPTY);
  }
}

TEST_F(Adapters, ANewPortsNameReachesTheCallerOnceTheHostHasTheCall) {
  const struct {
    FaultRule rule;
    long result;
    bool named;
  } cases[] = {
      {ReturnRule(L"CreateSwitchPort", 32773), 1, true},
      {HresultRule(Call::exec_method, L"CreateSwitchPort", 0x80041001), static_cast<std::int32_t>(0x80041001), false},
  };
  for (const auto& c : cases) {
    host().clear_faults();
    host().add_fault(c.rule);
    char name[512] = "untouched";
    bool closedEarly = false;
    OnOpen(
        [&] {
          hvc::VariantHolder path;
          PathOf("SELECT * FROM Msvm_VirtualSwitch", path);
          EXPECT_EQ(Access::Call(config_, Access::CreateVirtualSwitchPort, &path.Get(), name), c.result);
          return 0;
        },
        closedEarly);
    EXPECT_EQ(std::string(name).size(), c.named ? 36u : 9u);
  }
}

// Removal of an adapter: immediate or through a job, and each way it fails (a refusal is the
// sweep's RemoveVNicFromVM "returns" entries). SQL01 is off: a host without hot-remove takes the
// adapter only then, and refuses it from the running build agent, which the worker reports as any
// refusal, closing the connection.
TEST_F(Adapters, RemovingAnAdapterFromItsMachine) {
  const std::string removal = "Return value of RemoveVirtualSystemServices method ";
  const struct {
    const char* vm;
    const wchar_t* failing;  // the method that fails with 0x80041001, if any
    bool job;
    int result;
    std::vector<std::string> log;
    std::string out;
    bool closedEarly;
  } cases[] = {
      {kSql, nullptr, false, 0, {removal + "0"}, "", false},
      {kSql,
       nullptr,
       true,
       0,
       {removal + "4096", "Job state-4 Error Code - 0", "Job state-7 Error Code - 0"},
       "",
       false},
      {kSql,
       L"RemoveVirtualSystemResources",
       false,
       1,
       {},
       "Could not execute method. Error code = 0x80041001--->",
       true},
      {kBuildAgent, nullptr, false, 1, {removal + "-32761", "Adding resources failed for nic"}, "", true},
  };
  for (const auto& c : cases) {
    Install(simhost::provider::default_host_description());
    if (c.failing != nullptr)
      host().add_fault(HresultRule(Call::exec_method, c.failing, 0x80041001));
    if (c.job)
      host().set_completion(L"RemoveVirtualSystemResources", Job(1));
    const std::string address = c.vm == kSql ? "00155D010A04" : kBuildMac;
    bool closedEarly = false;
    const Outcome outcome = OnOpen([&] { return RemoveVNic(address, c.vm); }, closedEarly);
    SCOPED_TRACE(outcome.out);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.log, c.log);
    EXPECT_NE(outcome.out.find(c.out), std::string::npos);
    EXPECT_EQ(closedEarly, c.closedEarly);
    EXPECT_EQ(
        Find(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE Address='" + Wide(address) + L"'").empty(),
        c.result == 0);
  }
}

// A new adapter from the pool's default settings for SQL01, which is off (a refusal is the sweep's
// CreateNetworkAdapter "returns" entries); v1 has no hot-add, so WEB01, which runs, gets none.
TEST_F(Adapters, CreatingAnAdapter) {
  const struct {
    const char* vm;
    std::vector<FaultRule> rules;
    bool job;
    bool defaultFirst;
    int kind;
    bool returned;
    std::size_t adapters;  // the machine's afterwards
    std::vector<std::string> log;
    bool closedEarly;
  } cases[] = {
      {kSql, {}, false, true, 1, true, 3, {}, false},
      {kSql, {}, true, true, 1, false, 3, {"Job state-4 Error Code - 0", "Job state-7 Error Code - 0"}, false},
      // the settings that cannot be put end the member before the method is called
      {kSql, {HresultRule(Call::put, L"ResourcesettingData", 0x80041008)}, false, true, 1, false, 2, {}, false},
      {kSql, {}, false, false, 1, false, 2, {}, false},  // the first capabilities reference is not the default
      {kSql, {}, false, true, 2, false, 2, {}, false},   // a kind without a resource subtype
      {"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97", {}, false, true, 1, false, 2, {"Adding resources failed"}, true},
  };
  for (const auto& c : cases) {
    HostDescription description = simhost::provider::default_host_description();
    description.behaviour.default_settings_first = c.defaultFirst;
    Install(description);
    for (const FaultRule& rule : c.rules)
      host().add_fault(rule);
    if (c.job)
      host().set_completion(L"AddVirtualSystemResources", Job(1));
    const std::wstring adaptersOfVm =
        L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE InstanceID LIKE 'Microsoft:" + Wide(c.vm) + L"%'";
    bool closedEarly = false;
    const Outcome outcome = OnOpen(
        [&] {
          const hvc::ComPtr<IWbemClassObject> added = CreateNetworkAdapter(c.vm, c.kind);
          if (added) {
            EXPECT_EQ(hvc::GetUint16(added.Get(), L"ResourceType"), 10);
          }
          return added ? 0 : 1;
        },
        closedEarly);
    SCOPED_TRACE(outcome.out);
    EXPECT_EQ(outcome.result == 0, c.returned);
    EXPECT_EQ(outcome.log, c.log);
    EXPECT_EQ(closedEarly, c.closedEarly);
    const auto adapters = Find(adaptersOfVm);
    EXPECT_EQ(adapters.size(), c.adapters);
    if (c.kind != 1) {
      EXPECT_EQ(Calls(L"ExecQuery").size(), 3u);  // the test's own, for the paths
    }
    if (!c.rules.empty() && c.rules[0].call == Call::put) {
      EXPECT_TRUE(Calls(L"ExecMethod").empty());
    }
    if (c.adapters < 3)
      continue;
    const std::wstring identifier = Text(adapters.back(), L"VirtualSystemIdentifiers");
    EXPECT_EQ(identifier.size(), 38u);
    EXPECT_EQ(identifier.find_first_not_of(L"0123456789abcdef-", 1), 37u) << Narrow(identifier);
    if (c.returned) {
      EXPECT_TRUE(outcome.out.ends_with("\nGetMethod returned 0x0:\n klklkl;klklklklkl;kl;kkklk "));
    }
  }
}

TEST_F(Adapters, ASyntheticPortOnceTheSwitchIsKnownToHaveAPort) {
  constexpr char kIsolated[] = "4D2C8A10-1E3F-4B5A-9C7D-0A1B2C3D4E03";
  HostDescription description = simhost::provider::default_host_description();
  description.switches.push_back({Wide(kIsolated), L"Isolated", L"", false, {}});
  const struct {
    const char* sw;
    int skip;  // objects taken from the enumerator first
    bool returned;
    std::vector<std::string> log;
    bool closedEarly;
  } cases[] = {
      {kInternal, 0, true, {}, false},
      {"NOPE", 0, false, {}, false},
      {kIsolated, 0, false, {"Unable to fetch Switch Instance for 4D2C8A10-1E3F-4B5A-9C7D-0A1B2C3D4E03"}, true},
      {kInternal, 1, false, {"Unable to fetch SyntheticEthernetPortSettingData instance"}, true},
      // A quote makes a malformed query, which fails only at its first Next on a real host: then the
      // switch is just not there, without the console line of a refused query.
      {"it's", 0, false, {}, false},
  };
  for (const auto& c : cases) {
    Install(description);
    bool closedEarly = false;
    const Outcome outcome = OnOpen([&] { return SyntheticPort(c.sw, c.skip); }, closedEarly);
    EXPECT_EQ(outcome.result == 0, c.returned) << c.sw;
    EXPECT_EQ(outcome.log, c.log);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(closedEarly, c.closedEarly);
  }
  EXPECT_EQ(Outcomes(L"SELECT * FROM Msvm_VirtualSwitch where Name='it's'"),
            (std::vector<std::string>{"ExecQuery 0", "Next 0x80041017"}));
  EXPECT_EQ(Access::Call(config_, Access::GetSyntheticPort, nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace hvctest
