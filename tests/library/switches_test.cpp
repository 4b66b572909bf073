// Creating and deleting virtual switches against the simulated host: what each call leaves on
// the host, its result, and its exact lines on standard output and in the log.
#include <regex>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "simhost/cim/text.hpp"

namespace hvctest {
namespace {

using Access = HypervConfigTestAccess;
using simhost::cim::InstanceId;
using simhost::cim::narrow;

char kFreeNic[] = "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}";
char kBoundNic[] = "{6E1C1F2A-6B5D-4C4E-9A43-2F4B1D7C8E01}";
char kFreeNicBare[] = "A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14";
char kInternalName[] = "2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852";  // the Name of "Internal Network"

const std::string kClassShown = "\nGetObject returned 0x0:";
const std::string kMethodShown = "\nGetMethod returned 0x0:";
const std::string kNotExecuted = "Could not execute method. Error code = 0x80041001--->5\n";  // last error 5
const std::string kUnbound = "switches=1 internal=0 ports=0 uplink=none";
constexpr HRESULT kRefused = static_cast<HRESULT>(0x80041001);
const std::regex kGuidName("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

class Switches : public HostTest {
 protected:
  std::vector<InstanceId> Find(const std::wstring& query) {
    auto found = host().query(query);
    return found ? found->instances : std::vector<InstanceId>{};
  }
  std::wstring Text(InstanceId id, const wchar_t* name) {
    const auto& repo = host().repository();
    if (std::wstring(name) == L"__PATH")
      return repo.path_text(*repo.get(id));
    return *repo.property(*repo.get(id), name)->as_string();
  }
  std::wstring Assoc(InstanceId id, const wchar_t* clause) {
    return L"ASSOCIATORS OF {" + Text(id, L"__PATH") + L"} " + clause;
  }
  std::vector<InstanceId> Named(const wchar_t* cls, const std::wstring& name) {
    return Find(L"SELECT * FROM " + std::wstring(cls) + L" WHERE ElementName='" + name + L"'");
  }
  // What the host holds under a display name: switches, internal ports and switch ports so named,
  // and the class of the Ethernet port a switch of that name is connected to.
  std::string Effect(const std::wstring& name = L"Lab") {
    std::string uplink = "none";
    for (auto vswitch : Named(L"Msvm_VirtualSwitch", name))
      for (auto port : Find(Assoc(vswitch, L"WHERE ResultClass=Msvm_SwitchPort")))
        for (auto endpoint : Find(Assoc(port, L"WHERE AssocClass=Msvm_ActiveConnection")))
          for (auto nic : Find(Assoc(endpoint, L"WHERE AssocClass=Msvm_GlobalEthernetPortSAPImplementation")))
            uplink = narrow(host().repository().get(nic)->cls->name());
    const auto count = [&](const wchar_t* cls) { return std::to_string(Named(cls, name).size()); };
    return "switches=" + count(L"Msvm_VirtualSwitch") + " internal=" + count(L"Msvm_InternalEthernetPort") +
           " ports=" + count(L"Msvm_SwitchPort") + " uplink=" + uplink;
  }
  // An internal switch "Lab" made while CreateSwitch returns `value`, having made the switch or not.
  Outcome CreateWhenCreateSwitchReturns(std::uint32_t value, bool made) {
    host().add_fault(ReturnRule(L"CreateSwitch", value, made));
    char name[] = "Lab";
    return Run([&] { return config_.CreateVSwitch(kFreeNic, name, 2); });
  }
  // Runs `call` with the thread's last error set to 5; `closed` tells whether the connection was
  // closed when it returned. A worker gets a connection opened for it, and closed after it when
  // the worker left it open.
  Outcome RunWithLastError(const std::function<int()>& call, bool worker, bool& closed) {
    return Run([&] {
      if (worker) {
        EXPECT_EQ(Access::Call(config_, Access::OpenWMIReferences), 0);
      }
      SetLastError(ERROR_ACCESS_DENIED);
      const int result = call();
      closed = g_pServices == nullptr;
      if (worker && !closed)
        Access::Call(config_, Access::closeWMIReferences);
      return result;
    });
  }
};

// The lines and the queries of both creations are the sweep's CreateVSwitch baselines; here is what
// they leave on the host.
TEST_F(Switches, AnExternalSwitchIsBoundToItsPortAndConnected) {
  char name[] = "Lab";
  EXPECT_EQ(Run([&] { return config_.CreateVSwitch(kFreeNic, name, 1); }).result, 0);
  EXPECT_EQ(Effect(), "switches=1 internal=0 ports=1 uplink=Msvm_ExternalEthernetPort");

  const std::wstring guid = Text(Named(L"Msvm_VirtualSwitch", L"Lab").at(0), L"Name");
  const std::wstring portName = Text(Named(L"Msvm_SwitchPort", L"Lab").at(0), L"Name");
  EXPECT_TRUE(std::regex_match(narrow(guid), kGuidName));
  EXPECT_TRUE(std::regex_match(narrow(portName), kGuidName));
  EXPECT_NE(portName, guid);
  EXPECT_NE(MethodDetail(L"CreateSwitchPort").find(L"Name=" + portName + L"\n"), std::wstring::npos);
}

// The library puts NumLearnableAddresses as a VT_I2, which Put refuses for a uint32: the switch is
// made without it and gets the provider's own number.
TEST_F(Switches, CreateSwitchRunsWithoutNumLearnableAddressesSincePutRefusesAVtI2ForAUint32) {
  char name[] = "Lab";
  EXPECT_EQ(Run([&] { return config_.CreateVSwitch(nullptr, name, 2); }).result, 0);
  EXPECT_EQ(MethodDetail(L"CreateSwitch").find(L"NumLearnableAddresses"), std::wstring::npos);
  EXPECT_EQ(Outcomes(L"NumLearnableAddresses"), std::vector<std::string>{"Put 0x80041005"});  // WBEM_E_TYPE_MISMATCH
  const auto& repo = host().repository();
  EXPECT_EQ(repo.property(*repo.get(Named(L"Msvm_VirtualSwitch", L"Lab").at(0)), L"NumLearnableAddresses")->as_uint(),
            1024u);
}

TEST_F(Switches, AnInternalSwitchGetsANewInternalPortNamedAfterIt) {
  char name[] = "Lab";
  EXPECT_EQ(Run([&] { return config_.CreateVSwitch(nullptr, name, 2); }).result, 0);
  EXPECT_EQ(Effect(), "switches=1 internal=1 ports=1 uplink=Msvm_InternalEthernetPort");
  const std::wstring guid = Text(Named(L"Msvm_VirtualSwitch", L"Lab").at(0), L"Name");
  EXPECT_EQ(Text(Named(L"Msvm_InternalEthernetPort", L"Lab").at(0), L"Name"), L"{" + guid + L"}");
}

TEST_F(Switches, OtherTypesMakeAnUnboundSwitchWithANewNameEachTime) {
  char name[] = "Plain";
  for (int type : {0, 3, -1}) {
    const Outcome outcome = Run([&] { return config_.CreateVSwitch(kFreeNic, name, type); });
    EXPECT_EQ(outcome.result, 0) << type;
    EXPECT_EQ(outcome.out, kClassShown + kMethodShown) << type;
    EXPECT_TRUE(outcome.log.empty()) << type;
  }
  std::vector<std::wstring> names;
  for (auto id : Named(L"Msvm_VirtualSwitch", L"Plain"))
    names.push_back(Text(id, L"Name"));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_TRUE(names[0] != names[1] && names[1] != names[2] && names[0] != names[2]);
  EXPECT_EQ(Effect(L"Plain"), "switches=3 internal=0 ports=0 uplink=none");
}

// What decides is whether the new switch can be found, not what CreateSwitch reported: a refusal
// that still made the switch is no failure. v1's CreateSwitch has no Job: a "job started" (4096)
// from it comes with no job to follow, so the switch is there at once or not at all.
TEST_F(Switches, TheSwitchQueryDecidesWhateverCreateSwitchReturns) {
  for (const auto& [value, made] : {std::pair{32768u, true}, {4096u, true}, {4096u, false}}) {
    Install(simhost::provider::default_host_description());
    const Outcome outcome = CreateWhenCreateSwitchReturns(value, made);
    EXPECT_EQ(outcome.result, made ? 0 : 1) << value;
    EXPECT_EQ(outcome.log, made ? std::vector<std::string>{} : std::vector<std::string>{"CreateSwitch Method Failed"});
    EXPECT_TRUE(Find(L"SELECT * FROM Msvm_ConcreteJob").empty());
    if (made) {
      EXPECT_EQ(Effect(), "switches=1 internal=1 ports=1 uplink=Msvm_InternalEthernetPort") << value;
    }
  }
}

// Each failure of an external switch's creation: its lines, its result 1, whether the connection was closed, and
// what is left on the host. Every row runs through the worker and through the public call.
TEST_F(Switches, CreationFailures) {
  struct Row {
    const char* what;
    char* device;
    bool undoFails;  // DeleteSwitch, which takes the half-made switch away again, fails
    std::string out;
    std::vector<std::string> log;
    bool closes;
    std::string effect;
  };
  const std::string bindRefused = "Bind to Ethernet Port failed";
  const Row rows[] = {
      {"port without brackets",
       kFreeNicBare,
       false,
       kClassShown + kMethodShown,
       {"Not able to find external port A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14. Please ensure GUID is exact including "
        "curly brackets, if any."},
       false,
       kUnbound},
      {"undo fails",
       kBoundNic,
       true,
       kClassShown + kMethodShown + kMethodShown + kClassShown + kMethodShown + kNotExecuted,
       {bindRefused},
       true,
       kUnbound},
  };
  char name[] = "Lab";
  for (const Row& row : rows) {
    for (const bool worker : {true, false}) {
      Install(simhost::provider::default_host_description());
      if (row.undoFails)
        Fail(Call::exec_method, L"DeleteSwitch", kRefused);
      bool closed = false;
      const Outcome outcome = RunWithLastError(
          [&] {
            return worker ? Access::Call(config_, Access::CreateVirtNetwork, row.device, name, 1)
                          : config_.CreateVSwitch(row.device, name, 1);
          },
          worker, closed);
      const std::string what = std::string(row.what) + (worker ? " (worker)" : " (public)");
      EXPECT_EQ(outcome.result, 1) << what;
      EXPECT_EQ(outcome.out, row.out) << what;
      EXPECT_EQ(outcome.log, row.log) << what;
      if (worker) {
        EXPECT_EQ(closed, row.closes) << what;
      }
      EXPECT_EQ(Effect(), row.effect) << what;
    }
  }
}

// Deleting by display name, and removing by Name: each finds only what it is given, and leaves the
// connection open.
TEST_F(Switches, DeletionAndRemoval) {
  const auto del = Access::DeleteVirtNetwork;
  const auto remove = Access::RemovePrivateSwitch;
  const struct {
    int (HypervConfig::*member)(char*);
    const char* argument;
    bool found;
  } rows[] = {
      {del, "Internal Network", true},
      {remove, kInternalName, true},
      {del, "Nope", false},
      {del, kInternalName, false},                                // a Name is no display name
      {remove, "Internal Network", false},                        // nor the other way round
      {remove, "{2C7F9A3E-6D15-4B08-9E4A-C3B1D7F0E852}", false},  // a Name is bare
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argument);
    Install(simhost::provider::default_host_description());
    std::string argument = row.argument;
    bool closed = false;
    const Outcome outcome =
        RunWithLastError([&] { return Access::Call(config_, row.member, argument.data()); }, true, closed);
    EXPECT_EQ(outcome.result, row.found ? 0 : 1);
    EXPECT_EQ(outcome.out, kClassShown + kMethodShown);
    EXPECT_EQ(outcome.log, row.found ? std::vector<std::string>{}
                                     : std::vector<std::string>{"Virtual Network not found " + argument});
    EXPECT_FALSE(closed);
    EXPECT_EQ(Named(L"Msvm_VirtualSwitch", L"Internal Network").empty(), row.found);
    EXPECT_EQ(Named(L"Msvm_VirtualSwitch", L"External Network").size(), 1u);
  }
}

TEST_F(Switches, DeleteVSwitchTakesOneSwitchOfTheNameAtATimeAndThenFindsNone) {
  HostDescription description = simhost::provider::default_host_description();
  description.switches.push_back({L"5A5A5A5A-0000-4000-8000-000000000001", L"Twin", L"", false, {}});
  description.switches.push_back({L"5A5A5A5A-0000-4000-8000-000000000002", L"Twin", L"", false, {}});
  Install(description);
  char name[] = "Twin";
  for (const char* left : {"5A5A5A5A-0000-4000-8000-000000000002", ""}) {
    const Outcome outcome = Run([&] { return config_.DeleteVSwitch(name); });
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.out, kClassShown + kMethodShown);
    const auto twins = Named(L"Msvm_VirtualSwitch", L"Twin");
    EXPECT_EQ(twins.empty() ? "" : narrow(Text(twins.at(0), L"Name")), left);
  }
  // None is left, and a name with a quote, whose malformed query the host accepts and fails at its
  // first Next, finds none either.
  for (std::string gone : {"Twin", "it's"}) {
    const Outcome outcome = Run([&] { return config_.DeleteVSwitch(gone.data()); });
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.log, std::vector<std::string>{"Virtual Network not found " + gone});
  }
  EXPECT_EQ(Outcomes(L"Select * from Msvm_VirtualSwitch where ElementName='it's'"),
            (std::vector<std::string>{"ExecQuery 0", "Next 0x80041017"}));
}

// The library inserts names unescaped; WMI takes a backslash in a literal only before \, ' or ",
// so a switch named with one is made but its internal port is never found.
TEST_F(Switches, ABackslashInTheNameFailsTheInternalPortLookupAtItsFirstNext) {
  char name[] = "Lab\\1";
  const Outcome outcome = Run([&] { return config_.CreateVSwitch(nullptr, name, 2); });
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(Outcomes(L"Select * from Msvm_InternalEthernetPort where ElementName='Lab\\1'"),
            (std::vector<std::string>{"ExecQuery 0", "Next 0x80041017"}));
}

}  // namespace
}  // namespace hvctest
