// Host files: the default host, save/load round trips, and files that must be refused.
#include "simhost/provider/simulated_host.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace simhost::provider {
namespace {

std::vector<std::wstring> paths(SimulatedHost& host, const wchar_t* query) {
  auto r = host.query(query);
  EXPECT_TRUE(r.has_value()) << cim::narrow(query);
  std::vector<std::wstring> out;
  if (r) {
    for (auto id : r->instances) {
      out.push_back(host.repository().path_text(*host.repository().get(id)));
    }
  }
  return out;
}

TEST(HostFile, DefaultHostSurvivesSaveAndLoad) {
  auto description = default_host_description();
  // Values that no default supplies, so that a field the save or the model drops shows.
  ASSERT_FALSE(description.external_ports.empty());
  description.external_ports[0].health_state = 20;
  const auto with_ports = std::find_if(description.switches.begin(), description.switches.end(),
                                       [](const SwitchDescription& s) { return !s.ports.empty(); });
  ASSERT_NE(with_ports, description.switches.end());
  with_ports->ports[0].element_name = L"Spare port";
  ASSERT_FALSE(validate(description).has_value()) << *validate(description);
  auto reparsed = parse_host_json(to_json(description));
  ASSERT_TRUE(reparsed.has_value()) << reparsed.error();
  EXPECT_EQ(*reparsed, description);

  SimulatedHost first(description);
  // The model adds ports for connected adapters; what the description gave stays as given.
  const auto modelled = first.to_description();
  EXPECT_EQ(modelled.external_ports, description.external_ports);
  const auto at = static_cast<std::size_t>(with_ports - description.switches.begin());
  EXPECT_EQ(modelled.switches.at(at).ports.at(0), with_ports->ports[0]);
  const auto saved = to_json(first.to_description());
  auto second = SimulatedHost::from_json(saved);
  ASSERT_TRUE(second.has_value()) << second.error();
  EXPECT_EQ((*second)->to_description(), first.to_description());
  EXPECT_EQ(to_json((*second)->to_description()), saved);
  EXPECT_EQ(paths(**second, L"SELECT * FROM CIM_ManagedElement"), paths(first, L"SELECT * FROM CIM_ManagedElement"));
  EXPECT_EQ(paths(**second, L"SELECT * FROM Msvm_ActiveConnection"),
            paths(first, L"SELECT * FROM Msvm_ActiveConnection"));
}

TEST(HostFile, MinimalFileTakesFreshHostDefaultsAndKeepsUnicode) {
  auto description = parse_host_json(R"({
      "computerName": "LAB-2",
      "externalPorts": [{"deviceId": "{6e1c1f2a-6b5d-4c4e-9a43-2f4b1d7c8e01}"}],
      "switches": [{"name": "S1", "external": "{6E1C1F2A-6B5D-4C4E-9A43-2F4B1D7C8E01}", "ports": [{"name": "P1"}]}],
      "vms": [{"name": "4a1d7e3b-9c52-4f86-a0b3-5e8d2c6f1a97", "elementName": "caf\u00e9 \ud83d\ude00",
               "adapters": [{"instanceId": "1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", "port": "P1"}]}]
    })");
  ASSERT_TRUE(description.has_value()) << description.error();
  EXPECT_EQ(description->computer_name, L"LAB-2");
  EXPECT_TRUE(description->external_ports[0].bound);  // a port a switch uses is bound
  EXPECT_EQ(description->external_ports[0].mtu, 1500u);
  EXPECT_EQ(description->vms[0].name, L"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97");
  EXPECT_EQ(description->vms[0].enabled_state, 3);
  EXPECT_TRUE(description->vms[0].shutdown_component);
  EXPECT_EQ(description->vms[0].adapters[0].element_name, L"Network Adapter");

  SimulatedHost host(*description);
  const auto saved = host.to_description();
  ASSERT_EQ(saved.vms[0].adapters[0].address.substr(0, 6), L"00155D");  // a dynamic MAC was assigned
  EXPECT_EQ(saved.vms[0].element_name, description->vms[0].element_name);
  auto again = parse_host_json(to_json(saved));
  ASSERT_TRUE(again.has_value()) << again.error();
  EXPECT_EQ(*again, saved);
}

TEST(HostFile, InvalidFilesAreRefusedNamingTheField) {
  const std::string vm = R"("name": "4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97")";
  const std::string port = R"({"name": "S1", "elementName": "Net", "ports": [{"name": "P1"}]})";
  const struct {
    std::string json;
    std::string error;
  } cases[] = {
      {"{", "not valid JSON"},
      {R"({"behaviour": {"resultSeed": 1e999}})", "not valid JSON"},  // beyond a double: escaped as an exception
      {R"({"computerName": "H", "vm": []})", "vm: unknown field"},
      {R"({"computerName": 5})", "computerName: expected a string"},
      {R"({"computerName": "H\u00d6ST"})", "computerName: expected 1 to 63 letters"},
      {R"({"vms": [{"name": "not-a-guid"}]})", "vms[0].name: expected a GUID"},
      {R"({"vms": [{)" + vm + "}, {" + vm + "}]}", "vms[1].name: duplicate of vms[0]"},
      {R"({"vms": [{)" + vm + R"(, "enabledState": 4}]})", "vms[0].enabledState"},
      {R"({"vms": [{)" + vm +
           R"(, "adapters": [{"instanceId": "1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", "address": "00155D01"}]}]})",
       "vms[0].adapters[0].address: expected 12 hexadecimal digits"},
      {R"({"vms": [{)" + vm + R"(, "adapters": [{"instanceId": "x"}]}]})",
       "vms[0].adapters[0].instanceId: expected a GUID"},
      {R"({"vms": [{)" + vm +
           R"(, "adapters": [{"instanceId": "1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", "prot": "P1"}]}]})",
       "vms[0].adapters[0].prot: unknown field"},
      {R"({"switches": [)" + port + R"(], "vms": [{)" + vm +
           R"(, "adapters": [{"instanceId": "1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", "port": "P2"}]}]})",
       "vms[0].adapters[0].port: no switch has a port named P2"},
      {R"({"switches": [)" + port + R"(], "vms": [{)" + vm +
           R"(, "adapters": [{"instanceId": "1E6B8D4F-3A27-4C95-B8E1-0D4F6A2C9B35", "switch": "Other"}]}]})",
       "vms[0].adapters[0].switch: no switch has the elementName Other"},
      {R"({"switches": [)" + port + "," + port + "]}", "switches[1].name: duplicate of switches[0]"},
      {R"({"switches": [{"name": "S1", "external": "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}"}]})",
       "switches[0].external: no external port has deviceId {A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}"},
      {R"({"externalPorts": [{"deviceId": "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}", "bound": false}],
             "switches": [{"name": "S1", "external": "{A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14}"}]})",
       "externalPorts[0].bound"},
      {R"({"externalPorts": [{"deviceId": "A7D3E9B0-1C2F-4E6A-8B5D-3C9F0E2A7B14"}]})",
       "externalPorts[0].deviceId: expected a GUID in braces"},
      {R"({"behaviour": {"completion": {"CreateSwich": {"mode": "immediate"}}}})",
       "behaviour.completion.CreateSwich: unknown method"},
      {R"({"behaviour": {"completion": {"RequestStateChange": {"mode": "job", "result": "done"}}}})",
       "behaviour.completion.RequestStateChange.result"},
      {R"({"behaviour": {"completion": {"RequestStateChange": {"mode": "job", "runningState": "completed"}}}})",
       "behaviour.completion.RequestStateChange.runningState"},
      {R"({"behaviour": {"completion": {"RequestStateChange": {"mode": "job", "ticks": 2, "milliseconds": 5}}}})",
       "behaviour.completion.RequestStateChange.milliseconds: give either ticks or milliseconds"},
      {R"({"behaviour": {"completion": {"DeleteSwitch": {"mode": "job"}}}})",
       "behaviour.completion.DeleteSwitch.mode: the method has no Job out-parameter"},
      {R"({"behaviour": {"completion": {"InitiateShutdown": {"mode": "job"}}}})",
       "behaviour.completion.InitiateShutdown.mode: the method has no Job out-parameter"},
      {R"({"behaviour": {"faults": [{"call": "ExecQuery", "returnValue": 32768}]}})",
       "behaviour.faults[0].returnValue"},
      {R"({"behaviour": {"faults": [{"call": "Fetch", "hresult": "0x80041017"}]}})",
       "behaviour.faults[0].call: unknown call"},
      {R"({"behaviour": {"faults": [{"call": "Next", "hresult": "0x8004zz"}]}})", "behaviour.faults[0].hresult"},
      {R"({"behaviour": {"faults": [{"call": "Next", "hresult": "0x80041017", "times": 0}]}})",
       "behaviour.faults[0].times"},
      {R"({"behaviour": {"resultOrder": "random"}})", "behaviour.resultOrder"},
      {R"({"behaviour": {"resultSeed": -1}})", "behaviour.resultSeed"},
  };
  for (const auto& c : cases) {
    auto r = parse_host_json(c.json);
    ASSERT_FALSE(r.has_value()) << c.json;
    EXPECT_NE(r.error().find(c.error), std::string::npos) << "got: " << r.error() << "\nwanted: " << c.error;
    EXPECT_FALSE(SimulatedHost::from_json(c.json).has_value());
  }
}

TEST(HostFile, BehaviourRoundTrips) {
  auto description = parse_host_json(R"({"behaviour": {
      "completion": {"removevirtualsystemresources": {"mode": "job", "ticks": 3, "result": "exception",
                                                      "errorCode": 32775, "timeBeforeRemoval": 10},
                     "CreateSwitch": {"mode": "refuse", "returnValue": 32769},
                     "RequestStateChange": {"mode": "job", "milliseconds": 250, "runningState": "starting",
                                            "result": "suspended"},
                     "InitiateShutdown": {"mode": "immediate", "ticks": 5}},
      "faults": [{"call": "ExecQuery", "match": "Msvm_VirtualSwitch", "hresult": "0x80041017", "times": "always"},
                 {"call": "ExecMethod", "match": "CreateSwitchPort", "returnValue": 4096, "times": 2, "after": 1}],
      "capabilitiesOrder": "defaultLast", "resultOrder": "shuffled", "resultSeed": 42}})");
  ASSERT_TRUE(description.has_value()) << description.error();
  EXPECT_EQ(description->behaviour.result_order, (ResultOrder{ResultOrder::Kind::shuffled, 42}));
  ASSERT_EQ(description->behaviour.completion.size(), 4u);
  EXPECT_EQ(description->behaviour.completion[0].first, L"RemoveVirtualSystemResources");  // the schema's spelling
  EXPECT_EQ(description->behaviour.completion[0].second.end_state, 10);
  EXPECT_EQ(description->behaviour.completion[0].second.time_before_removal, 10u);
  EXPECT_EQ(description->behaviour.completion[2].second.milliseconds, 250u);
  EXPECT_EQ(description->behaviour.completion[2].second.running_state, 3);
  EXPECT_EQ(description->behaviour.completion[2].second.end_state, 5);
  EXPECT_EQ(description->behaviour.completion[3].second.ticks, 5u);
  EXPECT_EQ(description->behaviour.faults[0].hresult, static_cast<std::int32_t>(0x80041017u));
  EXPECT_FALSE(description->behaviour.faults[0].times.has_value());
  EXPECT_EQ(description->behaviour.faults[1].after, 1u);
  auto again = parse_host_json(to_json(*description));
  ASSERT_TRUE(again.has_value()) << again.error();
  EXPECT_EQ(*again, *description);
}

}  // namespace
}  // namespace simhost::provider
