#include "simhost/wql/evaluator.hpp"

#include "fixture_host.hpp"

#include <gtest/gtest.h>

namespace simhost::wql {
namespace {

using test::FixtureHost;
using test::kVm1;

class QueryTest : public ::testing::Test {
 protected:
  FixtureHost f;

  std::vector<cim::InstanceId> run(const std::wstring& text) {
    auto r = execute(f.repo, text);
    EXPECT_TRUE(r) << cim::narrow(text) << ": " << (r ? "" : cim::narrow(r.error().message));
    return r ? r->instances : std::vector<cim::InstanceId>{};
  }
  ErrorCode error(const std::wstring& text) {
    auto r = execute(f.repo, text);
    EXPECT_FALSE(r) << cim::narrow(text);
    return r ? ErrorCode{} : r.error().code;
  }
  std::wstring path(cim::InstanceId id) const { return f.path(id); }
};

TEST_F(QueryTest, ConditionSemantics) {
  using Ids = std::vector<cim::InstanceId>;
  struct Case {
    const wchar_t* where;
    Ids expected;
  } cases[] = {
      {L"caption = 'VIRTUAL machine'", {f.vm1, f.vm2}},
      {L"ENABLEDSTATE = 3", {f.vm2}},
      {L"EnabledState = '3'", {f.vm2}},
      {L"EnabledState = 0x3", {f.vm2}},
      {L"EnabledState <> 2", {f.vm2}},
      {L"EnabledState != 2 or Name = 'HVHOST'", {f.host, f.vm2}},
      {L"EnabledState > 2.5", {f.vm2}},
      {L"EnabledState > -1 and not EnabledState >= 3", {f.host, f.vm1}},
      {L"Caption = 'Virtual Machine' and (EnabledState = 3 or ElementName = 'web')", {f.vm1, f.vm2}},
      {L"Caption = 'Virtual Machine' and EnabledState = 3 or ElementName = 'web'", {f.vm1, f.vm2}},
      {L"not Caption = 'Virtual Machine' and EnabledState = 2", {f.host}},
      {L"ElementName = 'web'", {f.vm1}},
      {L"ElementName <> 'web'", {}},  // null never compares
      {L"ElementName is null", {f.host, f.vm2}},
      {L"ElementName IS NOT NULL", {f.vm1}},
      {L"ElementName = NULL", {f.host, f.vm2}},
      {L"Name < '6'", {f.vm1}},
      {L"Name >= 'h'", {f.host}},
      {L"Caption like 'virtual%'", {f.vm1, f.vm2}},
      {L"Caption like '%Comput_r%'", {f.host}},
      {L"Name like '[5-7]%'", {f.vm1, f.vm2}},
      {L"Name like '[^5]%'", {f.host, f.vm2}},
      {L"Name like '[h]vhos_'", {f.host}},
      {L"Name like 'HVHOST_'", {}},
      {L"Name like '%'", {f.host, f.vm1, f.vm2}},
      {L"__CLASS = 'msvm_computersystem' and __RELPATH like '%HVHOST%'", {f.host}},
      {L"OperationalStatus is null", {f.host, f.vm1, f.vm2}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(run(std::wstring(L"select * from Msvm_ComputerSystem where ") + c.where), c.expected)
        << cim::narrow(c.where);
}

TEST_F(QueryTest, LikeHandlesBackslashesAndBrackets) {
  // The query text '\\' is one backslash; in the pattern a backslash is an ordinary character.
  EXPECT_EQ(
      run(L"select * from Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:" + kVm1 + L"\\\\%'"),
      std::vector<cim::InstanceId>{f.adapter});
  EXPECT_EQ(like(L"50%", L"50[%]"), true);
  EXPECT_EQ(like(L"a]b", L"a[]]b"), true);
  EXPECT_EQ(like(L"a-b", L"a[-x]b"), true);
  EXPECT_EQ(like(L"ABC", L"a%c%"), true);
  EXPECT_EQ(like(L"ab", L"a_b"), false);
  EXPECT_EQ(like(L"x", L"[abc"), std::nullopt);
  EXPECT_EQ(error(L"select * from Msvm_ComputerSystem where Name like '[abc'"), ErrorCode::invalid_query);
}

TEST_F(QueryTest, SubclassesAndSelectList) {
  auto r = execute(f.repo, L"SELECT name, __Path FROM CIM_LANEndpoint");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->instances, (std::vector<cim::InstanceId>{f.vm_endpoint, f.switch_endpoint}));
  EXPECT_EQ(r->properties, (std::vector<std::wstring>{L"Name", L"__Path"}));
  const cim::ClassDef& endpoint = *f.repo.schema().find(L"CIM_LANEndpoint");
  ASSERT_EQ(r->shown.size(), endpoint.properties().size());
  for (std::size_t i = 0; i < r->shown.size(); ++i)
    EXPECT_EQ(r->shown[i], endpoint.properties()[i].name == L"Name") << cim::narrow(endpoint.properties()[i].name);
  EXPECT_TRUE(execute(f.repo, L"SELECT * FROM CIM_LANEndpoint")->shown.empty());
  EXPECT_EQ(run(L"select * from CIM_EthernetPort where ActiveMaximumTransmissionUnit = '1500'").size(), 2u);
  EXPECT_EQ(run(L"select * from Msvm_SyntheticEthernetPortSettingData where ResourceType = 10").size(), 2u);
}

TEST_F(QueryTest, ErrorsAsWmiReportsThem) {
  const std::wstring missing =
      L"\\\\HVHOST\\root\\virtualization:Msvm_SwitchPort.CreationClassName=\"Msvm_SwitchPort\","
      L"Name=\"NOPE\",SystemCreationClassName=\"Msvm_VirtualSwitch\",SystemName=\"SW-1\"";
  struct Case {
    std::wstring query;
    ErrorCode code;
  } cases[] = {
      {L"select * from Msvm_Nothing where x = 1", ErrorCode::invalid_class},
      {L"select Nope from Msvm_ComputerSystem", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where Nope = 1", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where EnabledState = 'two'", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where EnabledState = TRUE", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where EnabledState like '2'", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where OperationalStatus = 2", ErrorCode::invalid_query},
      {L"select * from Msvm_ComputerSystem where Caption = 'x", ErrorCode::invalid_query},
      {L"ASSOCIATORS OF {" + missing + L"}", ErrorCode::not_found},
      {L"REFERENCES OF {" + missing + L"} WHERE ResultClass=Msvm_HostedAccessPoint", ErrorCode::not_found},
      {L"ASSOCIATORS OF {Msvm_Nothing.Name=\"x\"}", ErrorCode::not_found},
      {L"ASSOCIATORS OF {Msvm_SwitchPort.Name=\"PORT-1\"}", ErrorCode::not_found},
      {L"ASSOCIATORS OF {Msvm_SwitchPort}", ErrorCode::invalid_query},
      {L"ASSOCIATORS OF {not a path}", ErrorCode::invalid_query},
  };
  for (const auto& c : cases)
    EXPECT_EQ(error(c.query), c.code) << cim::narrow(c.query);
}

TEST_F(QueryTest, AssociatorsAcceptEveryPathSpelling) {
  using Ids = std::vector<cim::InstanceId>;
  // Braces and commas inside a quoted key value do not end the path.
  EXPECT_EQ(run(L"ASSOCIATORS OF {" + path(f.external_port) + L"}"), Ids{});
  const std::wstring rel = f.repo.relpath_text(*f.repo.get(f.port2));
  EXPECT_EQ(run(L"references of {" + cim::fold(rel) + L"} where role=antecedent"),
            Ids{f.repo.references_of(f.port2)[1]});
  auto keys = execute(f.repo, L"ASSOCIATORS OF {" + rel + L"} WHERE KeysOnly ResultRole=Antecedent");
  ASSERT_TRUE(keys);
  EXPECT_TRUE(keys->keys_only);
  EXPECT_EQ(keys->instances, Ids{f.vswitch});
  EXPECT_EQ(run(L"ASSOCIATORS OF {" + rel + L"} WHERE AssocClass=Msvm_Unknown"), Ids{});
}

}  // namespace
}  // namespace simhost::wql
