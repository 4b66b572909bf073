#include <algorithm>
#include <cstring>
#include <map>
#include <cwchar>
#include <string>
#include <vector>

#include "host_fixture.h"

namespace hvctest {
namespace {

using simhost::provider::AdapterDescription;
using simhost::provider::ResultOrder;

constexpr wchar_t kExtSwitch[] = L"4D2C8A10-1E3F-4B5A-9C7D-0A1B2C3D4E01";
constexpr wchar_t kIntSwitch[] = L"4D2C8A10-1E3F-4B5A-9C7D-0A1B2C3D4E02";
constexpr wchar_t kPrivSwitch[] = L"4D2C8A10-1E3F-4B5A-9C7D-0A1B2C3D4E03";
constexpr wchar_t kWeb[] = L"9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C01";
constexpr wchar_t kDb[] = L"9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C02";
constexpr wchar_t kOff[] = L"9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C03";

// Adapter `n` of the lab, with a GUID and MAC of its own, on the switch of that display name.
AdapterDescription Adapter(int n, const wchar_t* switchName, const wchar_t* name = L"Network Adapter") {
  wchar_t guid[40], mac[13];
  std::swprintf(guid, 40, L"11111111-2222-4333-8444-5555555555%02d", n);
  std::swprintf(mac, 13, L"00155D0101%02d", n);
  return {guid, name, mac, false, {}, L"", switchName};
}

// Two running machines and one that is off; an external, an internal and a private switch.
HostDescription Lab() {
  HostDescription description;
  description.computer_name = L"HVHOST01";
  const std::wstring intel = L"{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A61}";
  description.external_ports = {
      {intel, L"Intel(R) 82574L Gigabit Network Connection", 1500, 5, true},
      {L"{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A62}", L"Disconnected adapter", 0},
      {L"{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A63}", std::wstring(70, L'J'), 9000, 20},
  };
  description.switches = {{kExtSwitch, L"External LAN", intel, false, {}},
                          {kIntSwitch, L"Host only", L"", true, {}},
                          {kPrivSwitch, L"Isolated", L"", false, {}}};
  description.vms = {
      {kWeb, L"web-01", 2, 5, true, {Adapter(1, L"External LAN"), Adapter(2, L"Host only", L"Backend")}},
      {kDb, L"db-01", 2, 5, true, {Adapter(3, L"External LAN"), Adapter(4, L"", L"Spare")}},
      {kOff, L"build-agent", 3, 25, true, {Adapter(5, L"Host only")}},
  };
  return description;
}

class Inventory : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Install(Lab());
  }
  // The records an enumeration lists into room for 8, which must succeed.
  template <class Record>
  std::vector<Record> List(int (HypervConfig::*operation)(void*, unsigned long*), Outcome* outcome = nullptr) {
    std::vector<Record> records(8);
    unsigned long size = 0xDEAD;
    const Outcome run = Run([&] { return (config_.*operation)(records.data(), &size); });
    EXPECT_EQ(run.result, 0);
    if (outcome != nullptr)
      *outcome = run;
    EXPECT_EQ(size % sizeof(Record), 0u);
    records.resize(size / sizeof(Record));
    return records;
  }
};

TEST_F(Inventory, ExternalPortsWithAnMtuAreListedInOrder) {
  const auto ports = List<vExtPort>(&HypervConfig::GetExternalPorts);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(std::string(ports[1].ElementName), std::string(63, 'J'));
  EXPECT_EQ(ports[1].HealthState, 20);
  for (const vExtPort& port : ports) {  // bytes after each text are zero
    const char* name = port.ElementName;
    for (std::size_t i = std::strlen(name); i < sizeof port.ElementName; ++i)
      EXPECT_EQ(name[i], 0);
  }
}

// The fields are the sweep's GetVirtualMachines baseline and hvcfg's listings; here the reserved
// bytes and the slots past the machine's adapters and switches stay zero.
TEST_F(Inventory, MachineRecordsAreZeroPastWhatTheyHold) {
  const auto vms = List<vMachines>(&HypervConfig::GetVirtualMachines);
  ASSERT_EQ(vms.size(), 3u);
  for (const vMachines& vm : vms) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&vm);
    for (std::size_t i = 6272; i < 6464; ++i)
      ASSERT_EQ(bytes[i], 0) << "reserved byte " << i;
    const auto* unused = reinterpret_cast<const unsigned char*>(&vm.Adapters[vm.AdapterCount]);
    for (std::size_t i = 0; i < (24 - vm.AdapterCount) * sizeof(vAdapter); ++i)
      ASSERT_EQ(unused[i], 0);
    for (int s = vm.SwitchCount; s < 24; ++s)
      ASSERT_EQ(vm.SwitchName[s][0], 0);
  }
}

// One record a machine, with the fields the sweep's GetAdapters baseline shows, and zeros after.
TEST_F(Inventory, AssociatedAdaptersHoldOneRecordPerMachine) {
  std::vector<vAssocAdapter> records(4);
  unsigned long size = 0;
  char name[] = "ignored";
  EXPECT_EQ(Run([&] { return config_.GetAdapters(records.data(), &size, name); }).result, 0);
  ASSERT_EQ(size, 3 * 368u);
  const auto* reserved = reinterpret_cast<const unsigned char*>(records[1].Reserved);
  for (std::size_t i = 0; i < sizeof records[1].Reserved; ++i)
    EXPECT_EQ(reserved[i], 0);
}

TEST_F(HostTest, AnEmptyHostListsNothing) {
  HostDescription empty;
  empty.computer_name = L"EMPTY";
  Install(empty);
  char buffer[1] = {'x'};
  char name[] = "";
  using Op = std::function<int(unsigned long*)>;
  const Op operations[] = {
      [&](unsigned long* size) { return config_.GetExternalPorts(buffer, size); },
      [&](unsigned long* size) { return config_.GetVirtualMachines(buffer, size); },
      [&](unsigned long* size) { return config_.GetVirtualSwitches(buffer, size); },
      [&](unsigned long* size) { return config_.GetAdapters(buffer, size, name); },
  };
  for (const Op& op : operations) {
    unsigned long size = 77;
    EXPECT_EQ(Run([&] { return op(&size); }).result, 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 'x');
  }
}

TEST_F(Inventory, SecuritySetByTheHostApplicationIsAccepted) {
  // The application sets the process's security first; the library's open then meets RPC_E_TOO_LATE.
  ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                 nullptr, EOAC_NONE, nullptr),
            S_OK);
  Outcome outcome;
  EXPECT_EQ(List<vExtPort>(&HypervConfig::GetExternalPorts, &outcome).size(), 2u);
  EXPECT_EQ(outcome.out, "");
}

// A record holds 24 adapters and switches and a display name of 63 characters and a zero; a machine
// without adapters has none listed and a zeroed first slot; nothing is written past the records.
TEST_F(HostTest, RecordsKeepToTheirLimits) {
  HostDescription description = Lab();
  description.vms.resize(2);
  description.vms[0].element_name = std::wstring(64, L'W');
  description.vms[0].adapters.clear();
  description.vms[1].adapters.clear();
  for (int i = 0; i < 26; ++i)
    description.vms[0].adapters.push_back(Adapter(10 + i, L"External LAN"));
  Install(description);
  std::vector<vMachines> records(3);
  records[1].Adapters[0].Address[0] = 'X';  // overwritten by the record
  std::memset(&records[2], 0x5A, sizeof records[2]);
  unsigned long size = 0;
  EXPECT_EQ(Run([&] { return config_.GetVirtualMachines(records.data(), &size); }).result, 0);
  ASSERT_EQ(size, 2 * sizeof(vMachines));
  EXPECT_EQ(std::string(records[0].ElementName), std::string(63, 'W'));
  EXPECT_EQ(records[0].AdapterCount, 24);
  EXPECT_EQ(records[0].SwitchCount, 24);
  EXPECT_EQ(records[0].SwitchName[23], Narrow(kExtSwitch));
  EXPECT_EQ(records[1].AdapterCount, 0);
  EXPECT_EQ(records[1].SwitchCount, 0);
  const auto* slot = reinterpret_cast<const unsigned char*>(&records[1].Adapters[0]);
  for (std::size_t i = 0; i < sizeof(vAdapter); ++i)
    EXPECT_EQ(slot[i], 0) << i;
  const auto* after = reinterpret_cast<const unsigned char*>(&records[2]);
  for (std::size_t i = 0; i < sizeof(vMachines); ++i)
    ASSERT_EQ(after[i], 0x5A) << "written past the record at " << i;
}

// A malformed adapter query (a quote in the name) fails at its first Next, which ends the loop:
// no adapters, no log line, and success, where a refused ExecQuery logs and fails.
TEST_F(Inventory, AMalformedAdapterQueryEndsAtItsFirstNextWithoutALogLine) {
  vMachines record{};
  char name[] = "it's";
  const Outcome outcome = Run([&] {
    EXPECT_EQ(config_.OpenWMINamespace(), 0);
    const int result = config_.GetVirtualNetworkAdapters(name, &record);
    config_.CloseWMINamespace();
    return result;
  });
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(record.AdapterCount, 0);
  EXPECT_TRUE(outcome.log.empty());
  EXPECT_EQ(Outcomes(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:it's%'"),
            (std::vector<std::string>{"ExecQuery 0", "Next 0x80041017"}));
}

// The inventories again with the host listing its objects in other orders (WMI promises none):
// what must hold whatever the order.
class AnyOrder : public Inventory, public testing::WithParamInterface<ResultOrder> {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    HostDescription description = Lab();
    description.behaviour.result_order = GetParam();
    Install(description);
  }
};

template <class Field>
std::vector<std::string> Sorted(const Field* fields, std::size_t count) {
  std::vector<std::string> texts(fields, fields + count);
  std::sort(texts.begin(), texts.end());
  return texts;
}

TEST_P(AnyOrder, EveryRecordIsThereWithItsOwnFields) {
  std::vector<std::string> ports;
  for (const vExtPort& port : List<vExtPort>(&HypervConfig::GetExternalPorts))
    ports.push_back(port.DeviceID);
  EXPECT_EQ(Sorted(ports.data(), ports.size()), (std::vector<std::string>{"{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A61}",
                                                                          "{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A63}"}));

  std::map<std::string, vMachines> vms;
  for (const vMachines& vm : List<vMachines>(&HypervConfig::GetVirtualMachines))
    vms[vm.Name] = vm;
  ASSERT_EQ(vms.size(), 3u);
  const vMachines& web = vms[Narrow(kWeb)];
  EXPECT_STREQ(web.ElementName, "web-01");
  EXPECT_EQ(Sorted(web.SwitchName, web.SwitchCount),
            (std::vector<std::string>{Narrow(kExtSwitch), Narrow(kIntSwitch)}));
  std::vector<std::string> addresses;
  for (int i = 0; i < web.AdapterCount; ++i)
    addresses.push_back(web.Adapters[i].Address);
  EXPECT_EQ(Sorted(addresses.data(), addresses.size()), (std::vector<std::string>{"00155D010101", "00155D010102"}));
  EXPECT_EQ(vms[Narrow(kDb)].SwitchCount, 1);
  EXPECT_EQ(vms[Narrow(kDb)].AdapterCount, 2);
  EXPECT_EQ(vms[Narrow(kOff)].SwitchCount, 0);
  EXPECT_EQ(vms[Narrow(kOff)].HealthState, 25);

  std::map<std::string, vNetwork> switches;
  for (const vNetwork& s : List<vNetwork>(&HypervConfig::GetVirtualSwitches))
    switches[s.Name] = s;
  ASSERT_EQ(switches.size(), 3u);
  EXPECT_STREQ(switches[Narrow(kExtSwitch)].ElementName, "External LAN");
  EXPECT_EQ(switches[Narrow(kPrivSwitch)].SwitchType, 0);
  for (const auto& [name, s] : switches) {
    EXPECT_EQ(s.HealthState, 5);
    EXPECT_EQ(s.EnabledState, 2);
  }
}

// A switch's type comes from the first of its ports the host lists: when that is a machine's
// port rather than the uplink, the switch shows as bound to nothing.
TEST_P(AnyOrder, SwitchTypeDependsOnWhichPortTheHostListsFirst) {
  std::map<std::string, vNetwork> switches;
  for (const vNetwork& s : List<vNetwork>(&HypervConfig::GetVirtualSwitches))
    switches[s.Name] = s;
  const vNetwork& external = switches[Narrow(kExtSwitch)];
  const bool uplinkFirst = external.SwitchType == 1;
  EXPECT_TRUE(uplinkFirst || external.SwitchType == 0);
  EXPECT_STREQ(external.PortDeviceID, uplinkFirst ? "{0B5E2A7C-3D41-4F6A-8B9C-1D2E3F405A61}" : "");
  if (GetParam().kind == ResultOrder::Kind::creation) {
    EXPECT_TRUE(uplinkFirst);
  }
  if (GetParam().kind == ResultOrder::Kind::reversed) {
    EXPECT_FALSE(uplinkFirst);
  }
}

std::string OrderName(const testing::TestParamInfo<ResultOrder>& info) {
  static const char* const kKinds[] = {"creation", "reversed", "shuffled"};
  return kKinds[static_cast<int>(info.param.kind)] +
         (info.param.seed != 0 ? std::to_string(info.param.seed) : std::string());
}

INSTANTIATE_TEST_SUITE_P(Orders, AnyOrder,
                         testing::Values(ResultOrder{ResultOrder::Kind::creation, 0},
                                         ResultOrder{ResultOrder::Kind::reversed, 0},
                                         ResultOrder{ResultOrder::Kind::shuffled, 1},
                                         ResultOrder{ResultOrder::Kind::shuffled, 2},
                                         ResultOrder{ResultOrder::Kind::shuffled, 3}),
                         OrderName);

TEST_F(HostTest, ClosingAClosedConnectionUninitialisesComOnce) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const long before = winapi::CurrentCounts().comInits;
  EXPECT_EQ(config_.CloseWMINamespace(), 0);
  EXPECT_EQ(winapi::CurrentCounts().comInits, before - 1);
  EXPECT_EQ(g_pServices, nullptr);
}

// A second open without a close replaces the connection: the first one's references go. Each
// open initialises COM, so the caller balances the second.
TEST_F(HostTest, OpeningTwiceReplacesTheConnection) {
  const Outcome outcome = Run([&] {
    EXPECT_EQ(config_.OpenWMINamespace(), 0);
    const long objects = winapi::CurrentCounts().comObjects;
    EXPECT_EQ(config_.OpenWMINamespace(), 0);
    EXPECT_EQ(winapi::CurrentCounts().comObjects, objects);  // the first pair released
    EXPECT_NE(g_pServices, nullptr);
    const int closed = config_.CloseWMINamespace();
    CoUninitialize();
    return closed;
  });
  EXPECT_EQ(outcome.result, 0) << outcome.out;
  EXPECT_EQ(Calls(L"ConnectServer").size(), 2u);
}

TEST_F(HostTest, ErrorTextStaysEmptyAfterFailures) {
  Fail(Call::connect_server, L"", static_cast<HRESULT>(0x8004100E));
  unsigned long size = 0;
  Run([&] { return config_.GetExternalPorts(nullptr, &size); });
  EXPECT_STREQ(config_.GetErrStr(1), "");
}

}  // namespace
}  // namespace hvctest
