// The simulated host's model, methods, completion modes, jobs and fault rules.
#include "simhost/provider/simulated_host.hpp"

#include "simhost/cim/text.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>
#include <string>

namespace simhost::provider {
namespace {

using cim::Value;

constexpr std::wstring_view kWeb = L"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";    // running, shutdown component
constexpr std::wstring_view kBuild = L"7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16";  // running, no shutdown component
constexpr std::wstring_view kSql = L"B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";    // off

class ProviderTest : public ::testing::Test {
 protected:
  std::unique_ptr<SimulatedHost> host = SimulatedHost::make_default();

  std::vector<cim::InstanceId> q(const std::wstring& text) {
    auto r = host->query(text);
    EXPECT_TRUE(r.has_value()) << cim::narrow(text);
    return r ? r->instances : std::vector<cim::InstanceId>{};
  }
  std::wstring path(cim::InstanceId id) { return host->repository().path_text(*host->repository().get(id)); }
  Value prop(cim::InstanceId id, const wchar_t* name) {
    return *host->repository().property(*host->repository().get(id), name);
  }
  std::wstring str(cim::InstanceId id, const wchar_t* name) { return *prop(id, name).as_string(); }
  std::uint64_t num(cim::InstanceId id, const wchar_t* name) { return prop(id, name).as_uint().value_or(999999); }
  std::wstring one(const std::wstring& text) {
    auto ids = q(text);
    EXPECT_EQ(ids.size(), 1u) << cim::narrow(text);
    return ids.empty() ? L"" : path(ids.front());
  }
  std::wstring vm(std::wstring_view name) {
    return one(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(name) + L"'");
  }
  std::wstring service(const wchar_t* cls) { return one(std::wstring(L"SELECT * FROM ") + cls); }
  std::uint64_t state(std::wstring_view name) {
    return num(q(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(name) + L"'")[0], L"EnabledState");
  }
  std::uint32_t rv(const MethodResult& r) {
    EXPECT_EQ(r.hresult, 0);
    return r.out.empty() ? 0xFFFFFFFF : static_cast<std::uint32_t>(*r.out.front().second.as_uint());
  }
  Value out(const MethodResult& r, std::wstring_view name) {
    for (const auto& [n, v] : r.out) {
      if (cim::iequals(n, name)) {
        return v;
      }
    }
    return {};
  }
  std::size_t count(const std::wstring& text) { return q(text).size(); }
  std::wstring port_named(std::wstring_view name) {
    return one(L"SELECT * FROM Msvm_SwitchPort WHERE Name='" + std::wstring(name) + L"'");
  }
  std::uint16_t job_state(const MethodResult& r) {
    const auto job = host->repository().find(*out(r, L"Job").as_string());
    return job ? static_cast<std::uint16_t>(num(*job, L"JobState")) : 0;
  }
};

// The host keeps each query's result and learns the order texts come in; neither may change an
// answer. A walk over every port is asked in order, in reverse, and out of step, growing the kept
// set past its first size on the way, and after a change, and each answer is a fresh host's.
TEST_F(ProviderTest, RepeatedQueriesAnswerAsAFreshHostDoes) {
  // Texts of one length side by side, so that a text mistaken for its neighbour would show.
  std::vector<std::wstring> texts;
  const auto ports = q(L"SELECT * FROM Msvm_SwitchPort");
  for (const auto id : ports)
    texts.push_back(L"ASSOCIATORS OF {" + path(id) + L"} WHERE AssocClass=Msvm_ActiveConnection");
  for (int spaces = 1; spaces <= 10; ++spaces)
    for (const auto id : ports)
      texts.push_back(L"SELECT * FROM Msvm_SwitchPort WHERE" + std::wstring(spaces, L' ') + L"Name='" +
                      str(id, L"Name") + L"'");
  ASSERT_GT(texts.size(), 64u);
  // What a fresh host answers, each text asked once.
  auto answers = [&](SimulatedHost& fresh) {
    std::vector<std::vector<cim::InstanceId>> all;
    for (const auto& text : texts) {
      const auto r = fresh.query(text);
      EXPECT_TRUE(r) << cim::narrow(text);
      all.push_back(r ? r->instances : std::vector<cim::InstanceId>{});
    }
    return all;
  };
  auto walk = [&](const std::vector<std::size_t>& order, const std::vector<std::vector<cim::InstanceId>>& expected) {
    for (const std::size_t i : order) {
      const auto kept = host->query(texts[i]);
      ASSERT_TRUE(kept) << cim::narrow(texts[i]);
      EXPECT_EQ(kept->instances, expected[i]) << cim::narrow(texts[i]);
    }
  };
  std::vector<std::size_t> forward(texts.size());
  std::iota(forward.begin(), forward.end(), std::size_t{0});
  const std::vector<std::size_t> backward(forward.rbegin(), forward.rend());
  std::vector<std::size_t> skipping;
  for (std::size_t i = 0; i < forward.size(); i += 3)
    skipping.push_back(i);
  const auto before = answers(*SimulatedHost::make_default());
  for (const auto& order : {forward, forward, backward, skipping, forward})
    walk(order, before);

  const auto vsms = service(L"Msvm_VirtualSwitchManagementService");
  const auto port = port_named(L"C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22");
  auto changed = SimulatedHost::make_default();
  for (auto* h : {host.get(), changed.get()})
    EXPECT_EQ(rv(h->invoke(vsms, L"DisconnectSwitchPort", {{L"SwitchPort", Value::reference(port)}})), 0u);
  const auto after = answers(*changed);
  for (const auto& order : {forward, skipping})
    walk(order, after);
}

TEST_F(ProviderTest, DeletedPortLeavesStaleConnectionText) {
  const auto vsms = service(L"Msvm_VirtualSwitchManagementService");
  const auto port = port_named(L"C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22");  // BUILD-AGENT's
  EXPECT_EQ(count(L"REFERENCES OF {" + port + L"} WHERE ResultClass=Msvm_ActiveConnection"), 1u);
  EXPECT_EQ(rv(host->invoke(vsms, L"DisconnectSwitchPort", {{L"SwitchPort", Value::reference(port)}})), 0u);
  EXPECT_EQ(count(L"REFERENCES OF {" + port + L"} WHERE ResultClass=Msvm_ActiveConnection"), 0u);
  EXPECT_EQ(rv(host->invoke(vsms, L"DeleteSwitchPort", {{L"SwitchPort", Value::reference(port)}})), 0u);
  const auto adapter =
      q(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE ElementName='Network Adapter' AND InstanceID LIKE "
        L"'Microsoft:" +
        std::wstring(kBuild) + L"%'");
  ASSERT_EQ(adapter.size(), 1u);
  EXPECT_EQ(std::get<std::wstring>(prop(adapter[0], L"Connection").items()[0]), port);
  EXPECT_EQ(rv(host->invoke(vsms, L"DeleteSwitchPort", {{L"SwitchPort", Value::reference(port)}})), 32773u);
}

TEST_F(ProviderTest, OnlyWhatIsObservedMovesOn) {
  const auto r = host->invoke(vm(kSql), L"RequestStateChange", {{L"RequestedState", Value::uint16(2)}});
  ASSERT_EQ(rv(r), 4096u);
  const auto job = *host->repository().find(*out(r, L"Job").as_string());
  for (int i = 0; i < 5; ++i) {
    q(L"SELECT * FROM Msvm_VirtualSwitch");
    q(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(kWeb) + L"'");
  }
  EXPECT_EQ(num(job, L"JobState"), 4u);
  // A query reports what it saw after the tick: the VM has left the state the WHERE asked for.
  const auto sql = *host->repository().find(vm(kSql));
  EXPECT_EQ(count(L"SELECT * FROM Msvm_ComputerSystem WHERE EnabledState=32770"), 1u);
  EXPECT_EQ(count(L"SELECT * FROM Msvm_ComputerSystem WHERE EnabledState=32770"), 0u);
  EXPECT_EQ(num(sql, L"EnabledState"), 2u);
  EXPECT_EQ(num(job, L"JobState"), 7u);
  // One query that sees the job and the VM moves their change once.
  host->invoke(vm(kSql), L"RequestStateChange", {{L"RequestedState", Value::uint16(3)}});
  q(L"SELECT * FROM CIM_ManagedElement");
  EXPECT_EQ(num(sql, L"EnabledState"), 32774u);
}

TEST_F(ProviderTest, WallClockDurations) {
  CompletionMode slow;
  slow.kind = Completion::job;
  slow.milliseconds = 3600000;
  host->set_completion(L"RequestStateChange", slow);
  const auto r = host->invoke(vm(kSql), L"RequestStateChange", {{L"RequestedState", Value::uint16(2)}});
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(state(kSql), 32770u);
  }
  CompletionMode quick;
  quick.milliseconds = 1;
  host->set_completion(L"InitiateShutdown", quick);
  const auto sc = one(L"SELECT * FROM Msvm_ShutdownComponent WHERE SystemName='" + std::wstring(kWeb) + L"'");
  EXPECT_EQ(rv(host->invoke(sc, L"InitiateShutdown", {})), 0u);
  while (state(kWeb) == 32774u) {
  }
  EXPECT_EQ(state(kWeb), 3u);
  EXPECT_EQ(job_state(r), 4);
}

// A rule's text matches its subject in any case, and a rule without a count fires every time.
// When a counted rule fires, what it forces and where a job rule waits, the fault sweep's goldens
// and the switch tests check through the library.
TEST_F(ProviderTest, FaultRules) {
  host->add_fault({Call::exec_query, L"msvm_virtualswitch", static_cast<std::int32_t>(0x80041017u), std::nullopt,
                   std::nullopt, 0, std::nullopt, false, std::nullopt});
  EXPECT_FALSE(host->observer().fault(Call::exec_query, L"SELECT * FROM Msvm_ComputerSystem"));
  for (int i = 0; i < 3; ++i) {
    const auto forced = host->observer().fault(Call::exec_query, L"SELECT * FROM Msvm_VirtualSwitch");
    ASSERT_TRUE(forced.has_value());
    EXPECT_EQ(forced->hresult, static_cast<std::int32_t>(0x80041017u));
  }

  // The transcript keeps nothing until it is turned on, so long runs stay flat in memory.
  host->observer().record({L"ExecQuery", L"SELECT 0", L"", 0});
  EXPECT_TRUE(host->transcript().empty());
  host->set_recording(true);
  host->observer().record({L"ExecQuery", L"SELECT 1", L"", 0});
  ASSERT_EQ(host->transcript().size(), 1u);
  EXPECT_EQ(host->transcript()[0].subject, L"SELECT 1");
}

// Refusals that come before the method's own checks, and the completion modes that stand in for them.
TEST_F(ProviderTest, CallsRefusedBeforeTheMethodRuns) {
  const auto vsms = service(L"Msvm_VirtualSwitchManagementService");
  EXPECT_EQ(host->invoke(vsms, L"CreateSwitch", {{L"Nmae", Value::string(L"x")}}).hresult,
            static_cast<std::int32_t>(0x80041008u));
  EXPECT_EQ(rv(host->invoke(vsms, L"CreateSwitch",
                            {{L"NumLearnableAddresses", Value::string(L"many")}, {L"Name", Value::string(L"y")}})),
            32776u);
  CompletionMode refuse;
  refuse.kind = Completion::refused;
  refuse.return_value = 32769;
  host->set_completion(L"DeleteSwitch", refuse);
  const auto sw = one(L"SELECT * FROM Msvm_VirtualSwitch WHERE ElementName='Internal Network'");
  EXPECT_EQ(rv(host->invoke(vsms, L"DeleteSwitch", {{L"VirtualSwitch", Value::reference(sw)}})), 32769u);
  EXPECT_TRUE(host->repository().find(sw));
  // A method without a Job out-parameter cannot be made to run as a job.
  CompletionMode job;
  job.kind = Completion::job;
  EXPECT_THROW(host->set_completion(L"CreateSwitch", job), std::invalid_argument);
}

std::wstring xml_escape(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s) {
    out += c == L'"' ? L"&quot;" : c == L'&' ? L"&amp;" : c == L'<' ? L"&lt;" : std::wstring(1, c);
  }
  return out;
}

std::wstring adapter_xml(const std::wstring& instance_id, const std::wstring& connection,
                         const std::wstring& name = L"Network Adapter") {
  std::wstring x = L"<INSTANCE CLASSNAME=\"Msvm_SyntheticEthernetPortSettingData\">";
  if (!instance_id.empty()) {
    x += L"<PROPERTY NAME=\"InstanceID\" TYPE=\"string\"><VALUE>" + xml_escape(instance_id) + L"</VALUE></PROPERTY>";
  }
  x += L"<PROPERTY NAME=\"ElementName\" TYPE=\"string\"><VALUE>" + name + L"</VALUE></PROPERTY>";
  x += L"<PROPERTY.ARRAY NAME=\"VirtualSystemIdentifiers\" "
       L"TYPE=\"string\"><VALUE.ARRAY><VALUE>{0D1C2B3A-0000-4000-8000-000000000001}</VALUE></VALUE.ARRAY></"
       L"PROPERTY.ARRAY>";
  x += L"<PROPERTY.ARRAY NAME=\"Connection\" TYPE=\"string\"><VALUE.ARRAY><VALUE>" + xml_escape(connection) +
       L"</VALUE></VALUE.ARRAY></PROPERTY.ARRAY>";
  return x + L"</INSTANCE>";
}

TEST_F(ProviderTest, VirtualSystemResources) {
  const auto vsms = service(L"Msvm_VirtualSystemManagementService");
  const auto web = vm(kWeb);
  const auto web_id =
      L"Microsoft:" + std::wstring(kWeb) + L"\\8C3F1A6D-5B94-4E27-A1D0-6F9B3E2C7D48";  // on the internal switch
  const auto busy_port = port_named(L"C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22");
  auto modify = [&](const std::wstring& text) {
    return rv(host->invoke(
        vsms, L"ModifyVirtualSystemResources",
        {{L"ComputerSystem", Value::reference(web)}, {L"ResourceSettingData", Value::string_array({text})}}));
  };
  EXPECT_EQ(modify(L"<INSTANCE CLASSNAME="), 32773u);
  EXPECT_EQ(modify(adapter_xml(L"Microsoft:nothing", L"")), 32773u);
  EXPECT_EQ(modify(adapter_xml(web_id, busy_port)), 32774u);
  // WEB01's first adapter already holds free_port; move the second one off the internal switch.
  EXPECT_EQ(modify(adapter_xml(web_id, L"", L"Renamed")), 0u);
  const auto settings = q(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE ElementName='Renamed'");
  ASSERT_EQ(settings.size(), 1u);
  const auto ep = one(L"SELECT * FROM Msvm_VmLANEndpoint WHERE Name LIKE '%8c3f1a6d-5b94-4e27-a1d0-6f9b3e2c7d48'");
  EXPECT_EQ(count(L"ASSOCIATORS OF {" + ep + L"} WHERE AssocClass=Msvm_ActiveConnection"), 0u);
  const auto vsw = service(L"Msvm_VirtualSwitchManagementService");
  const auto r =
      host->invoke(vsw, L"CreateSwitchPort",
                   {{L"VirtualSwitch",
                     Value::reference(one(L"SELECT * FROM Msvm_VirtualSwitch WHERE ElementName='Internal Network'"))},
                    {L"Name", Value::string(L"NEWPORT")}});
  const auto new_port = *out(r, L"CreatedSwitchPort").as_string();
  EXPECT_EQ(modify(adapter_xml(web_id, new_port)), 0u);
  EXPECT_EQ(count(L"ASSOCIATORS OF {" + ep + L"} WHERE AssocClass=Msvm_ActiveConnection"), 1u);
}

}  // namespace
}  // namespace simhost::provider
