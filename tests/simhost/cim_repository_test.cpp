#include "fixture_host.hpp"

#include <gtest/gtest.h>

namespace simhost::cim {
namespace {

using test::FixtureHost;

std::vector<std::wstring> names(const Repository& repo, const std::vector<InstanceId>& ids,
                                const wchar_t* prop = L"Name") {
  std::vector<std::wstring> out;
  for (InstanceId id : ids) {
    auto v = repo.property(*repo.get(id), prop);
    out.push_back(v && v->as_string() ? *v->as_string() : L"<null>");
  }
  return out;
}

TEST(RepositoryTest, CreateValidatesAgainstTheSchema) {
  Repository repo(virtualization_schema(), L"H");
  const PropertyList job{{L"InstanceID", Value::string(L"J")}};
  struct Case {
    const wchar_t* cls;
    PropertyList props;
    Status expected;
  } cases[] = {
      {L"Msvm_Nothing", job, Status::invalid_class},
      {L"CIM_ManagedElement", {}, Status::invalid_class},  // abstract
      {L"Msvm_ConcreteJob", {}, Status::missing_key},
      {L"Msvm_ConcreteJob",
       {{L"InstanceID", Value::string(L"J")}, {L"Bogus", Value::string(L"")}},
       Status::invalid_property},
      {L"Msvm_ConcreteJob",
       {{L"InstanceID", Value::string(L"J")}, {L"JobState", Value::string(L"x")}},
       Status::type_mismatch},
      {L"Msvm_ConcreteJob",
       {{L"InstanceID", Value::string(L"J")}, {L"JobState", Value::sint32(70000)}},
       Status::out_of_range},
  };
  for (const auto& c : cases) {
    auto r = repo.create(c.cls, c.props);
    ASSERT_FALSE(r) << narrow(c.cls);
    EXPECT_EQ(r.error(), c.expected) << narrow(c.cls);
  }
  ASSERT_TRUE(repo.create(L"msvm_concretejob", job));
  auto dup = repo.create(L"Msvm_ConcreteJob", {{L"InstanceID", Value::string(L"j")}});
  ASSERT_FALSE(dup);
  EXPECT_EQ(dup.error(), Status::already_exists) << "keys compare case-insensitively";
}

TEST(RepositoryTest, PathsAndSystemProperties) {
  FixtureHost f;
  const Instance& adapter = *f.repo.get(f.adapter);
  const std::wstring path = f.repo.path_text(adapter);
  EXPECT_EQ(path, L"\\\\HVHOST\\root\\virtualization:Msvm_SyntheticEthernetPortSettingData.InstanceID=\"Microsoft:" +
                      test::kVm1 + L"\\\\" + test::kAdapter + L"\"");
  EXPECT_EQ(f.repo.find(path), f.adapter);
  EXPECT_EQ(f.repo.find(f.repo.relpath_text(adapter)), f.adapter);
  // Host, namespace, class and key values all compare case-insensitively; a superclass names it too.
  std::wstring lower = fold(path);
  EXPECT_EQ(f.repo.find(lower), f.adapter);
  EXPECT_EQ(f.repo.find(L"CIM_ResourceAllocationSettingData.InstanceID=\"Microsoft:" + test::kVm1 + L"\\\\" +
                        test::kAdapter + L"\""),
            f.adapter);
  EXPECT_FALSE(f.repo.find(L"\\\\OTHER\\root\\virtualization:Msvm_ConcreteJob.InstanceID=\"x\""));
  EXPECT_FALSE(f.repo.find(L"\\\\.\\root\\cimv2:" + f.repo.relpath_text(adapter)));
  EXPECT_FALSE(f.repo.find(L"Msvm_SwitchPort.Name=\"PORT-1\"")) << "all keys are needed";

  auto sys = [&](const wchar_t* name) { return *f.repo.property(adapter, name); };
  EXPECT_EQ(sys(L"__class"), Value::string(L"Msvm_SyntheticEthernetPortSettingData"));
  EXPECT_EQ(sys(L"__SUPERCLASS"), Value::string(L"CIM_ResourceAllocationSettingData"));
  EXPECT_EQ(sys(L"__DYNASTY"), Value::string(L"CIM_ManagedElement"));
  EXPECT_EQ(sys(L"__DERIVATION").items().size(), 3u);
  EXPECT_EQ(sys(L"__PATH"), Value::string(path));
  EXPECT_EQ(sys(L"__SERVER"), Value::string(L"HVHOST"));
  EXPECT_EQ(sys(L"__GENUS"), Value::sint32(2));
  EXPECT_EQ(*sys(L"__PROPERTY_COUNT").as_int(), static_cast<std::int64_t>(adapter.values.size()));
  EXPECT_FALSE(f.repo.property(adapter, L"__NOPE"));
}

TEST(RepositoryTest, ClassIndexKeepsCreationOrderAcrossSubclasses) {
  FixtureHost f;
  const Schema& s = f.repo.schema();
  EXPECT_EQ(names(f.repo, f.repo.instances_of(*s.find(L"CIM_LANEndpoint"))),
            (std::vector<std::wstring>{L"vm-lan-" + fold(test::kVm1), L"INTERNAL-1"}));
  EXPECT_TRUE(f.repo.instances_of(*s.find(L"CIM_LANEndpoint"), false).empty());

  f.repo.remove(f.vm_endpoint, Cascade::none);
  EXPECT_GT(f.sap(L"Msvm_VmLANEndpoint", L"late", L"y", L"x"), f.vm_endpoint) << "ids are never reused";
  EXPECT_EQ(names(f.repo, f.repo.instances_of(*s.find(L"CIM_LANEndpoint"))),
            (std::vector<std::wstring>{L"INTERNAL-1", L"late"}));
}

TEST(RepositoryTest, DeleteUpdatesEveryIndex) {
  FixtureHost f;
  const std::wstring port_path = f.path(f.port1);
  const std::size_t before = f.repo.size();
  auto removed = f.repo.remove(f.port1, Cascade::associations);
  ASSERT_EQ(removed.size(), 3u) << "the port, its HostedAccessPoint and its ActiveConnection";
  EXPECT_EQ(removed.front(), f.port1);
  EXPECT_EQ(f.repo.size(), before - 3);
  EXPECT_EQ(f.repo.get(f.port1), nullptr);
  EXPECT_FALSE(f.repo.find(port_path));
  EXPECT_TRUE(f.repo.associators_of(f.vm_endpoint).empty());
  EXPECT_EQ(f.repo.associators_of(f.vswitch), std::vector<InstanceId>{f.port2});
  EXPECT_TRUE(f.repo.remove(f.port1, Cascade::associations).empty());

  // Without cascade the link stays and finds the port again once it is recreated.
  f.repo.remove(f.port2, Cascade::none);
  EXPECT_TRUE(f.repo.associators_of(f.vswitch).empty()) << "dangling references lead nowhere";
  const InstanceId port2 = f.sap(L"Msvm_SwitchPort", L"PORT-2", L"SW-1", L"Msvm_VirtualSwitch");
  EXPECT_EQ(f.repo.associators_of(f.vswitch), std::vector<InstanceId>{port2});
  EXPECT_EQ(f.repo.references_of(port2).size(), 2u);
}

TEST(RepositoryTest, SetRekeysAndRelinks) {
  FixtureHost f;
  // What a query handed out keeps its values and path, as a WMI object does after the change.
  const Snapshot before = f.repo.snapshot(f.vm2);
  const std::wstring old_path = before->path.str();
  EXPECT_EQ(f.repo.set(f.vm2, L"Name", Value::string(test::kVm1)), Status::already_exists);
  EXPECT_EQ(f.repo.set(f.vm2, L"Name", Value::null(CimType::String)), Status::missing_key);
  EXPECT_EQ(f.repo.set(f.vm2, L"Name", Value::string(L"NEW")), Status::ok);
  EXPECT_EQ(f.repo.find(L"Msvm_ComputerSystem.CreationClassName=\"Msvm_ComputerSystem\",Name=\"new\""), f.vm2);
  EXPECT_EQ(f.repo.set(f.vm2, L"EnabledState", Value::string(L"32768")), Status::ok);
  EXPECT_EQ(f.repo.get(f.vm2)->values[f.repo.get(f.vm2)->cls->property_index(L"enabledstate").value()],
            Value::uint16(32768));
  EXPECT_EQ(before->path.str(), old_path);
  EXPECT_EQ(f.repo.get(f.vm2)->path.str(), f.repo.path(*f.repo.get(f.vm2)).str());
  EXPECT_NE(*f.repo.property(*before, L"Name")->as_string(), L"NEW");
  EXPECT_EQ(f.repo.set(f.vm2, L"Nope", Value::uint16(1)), Status::invalid_property);
  EXPECT_EQ(f.repo.set(9999, L"Name", Value::uint16(1)), Status::not_found);

  // Moving the connection re-indexes the association under its new target.
  const InstanceId conn = f.repo.references_of(f.vm_endpoint).at(0);
  EXPECT_EQ(f.repo.set(conn, L"Antecedent", f.ref(f.port2)), Status::ok);
  EXPECT_EQ(f.repo.associators_of(f.vm_endpoint), std::vector<InstanceId>{f.port2});
  EXPECT_TRUE(f.repo.references_of(f.port1, {L"Msvm_ActiveConnection", L"", L""}).empty());
}

TEST(RepositoryTest, AssociatorsAndReferencesFilters) {
  FixtureHost f;
  struct Case {
    const char* label;
    InstanceId source;
    AssociatorFilter filter;
    std::vector<InstanceId> expected;
  } cases[] = {
      {"all", f.port2, {}, {f.vswitch, f.switch_endpoint}},
      {"assoc_subclass", f.port2, {L"CIM_Dependency", L"", L"", L"", L"", L""}, {f.vswitch, f.switch_endpoint}},
      {"assoc_exact", f.port2, {L"Msvm_ActiveConnection", L"", L"", L"", L"", L""}, {f.switch_endpoint}},
      {"result_superclass", f.port2, {L"", L"CIM_LANEndpoint", L"", L"", L"", L""}, {f.switch_endpoint}},
      {"role", f.port2, {L"", L"", L"Dependent", L"", L"", L""}, {f.vswitch}},
      {"result_role", f.port2, {L"", L"", L"", L"dependent", L"", L""}, {f.switch_endpoint}},
      {"unknown_class", f.port2, {L"", L"Msvm_Nothing", L"", L"", L"", L""}, {}},
      {"assoc_qualifier", f.port2, {L"", L"", L"", L"", L"", L"Association"}, {f.vswitch, f.switch_endpoint}},
      {"result_qualifier", f.port2, {L"", L"", L"", L"", L"Association", L""}, {}},
      {"two_hops_not_followed", f.internal_port, {}, {f.switch_endpoint}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(f.repo.associators_of(c.source, c.filter), c.expected) << c.label;

  const auto refs = f.repo.references_of(f.port2);
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_LT(refs[0], refs[1]);
  EXPECT_EQ(f.repo.references_of(f.port2, {L"CIM_ActiveConnection", L"", L""}), std::vector<InstanceId>{refs[1]});
  EXPECT_EQ(f.repo.references_of(f.port2, {L"", L"Antecedent", L""}), std::vector<InstanceId>{refs[1]});
  EXPECT_EQ(f.repo.references_of(f.default_settings, {L"Msvm_SettingsDefineCapabilities", L"", L""}),
            std::vector<InstanceId>{f.sdc});
}

}  // namespace
}  // namespace simhost::cim
