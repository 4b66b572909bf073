// A small host built directly in the repository: two VMs, a switch with two ports, an internal
// and an external port, and the default adapter settings with the capabilities that define them.
#pragma once

#include "simhost/cim/repository.hpp"

#include <gtest/gtest.h>

#include <string>

namespace simhost::test {

using cim::Value;

inline const std::wstring kVm1 = L"5C2A1B3E-0F1D-4A8B-9C7E-1234567890AB";
inline const std::wstring kVm2 = L"7E4D2C1B-AAAA-4BBB-8CCC-0000000000FF";
inline const std::wstring kAdapter = L"D1E2F3A4-1111-2222-3333-444455556666";
inline const std::wstring kExternalDevice = L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

struct FixtureHost {
  cim::Repository repo{cim::virtualization_schema(), L"HVHOST"};
  cim::InstanceId host{}, vm1{}, vm2{}, adapter{}, default_settings{}, vswitch{}, port1{}, port2{}, vm_endpoint{},
      internal_port{}, switch_endpoint{}, external_port{}, capabilities{}, sdc{};

  cim::InstanceId add(const wchar_t* cls, const cim::PropertyList& props) {
    auto r = repo.create(cls, props);
    EXPECT_TRUE(r.has_value()) << "creating " << cim::narrow(cls);
    return r ? *r : 0;
  }
  std::wstring path(cim::InstanceId id) const { return repo.path_text(*repo.get(id)); }
  Value ref(cim::InstanceId id) const { return Value::reference(path(id)); }
  // A service access point (a port or an endpoint) of the system `system_name`.
  cim::InstanceId sap(const wchar_t* cls, const std::wstring& name, const std::wstring& system_name,
                      const wchar_t* system_class) {
    return add(cls, {{L"CreationClassName", Value::string(cls)},
                     {L"Name", Value::string(name)},
                     {L"SystemCreationClassName", Value::string(system_class)},
                     {L"SystemName", Value::string(system_name)}});
  }

  FixtureHost() {
    auto system = [&](const wchar_t* cls, const std::wstring& name, const wchar_t* caption) {
      return add(cls, {{L"CreationClassName", Value::string(cls)},
                       {L"Name", Value::string(name)},
                       {L"Caption", Value::string(caption)},
                       {L"EnabledState", Value::uint16(2)}});
    };
    host = system(L"Msvm_ComputerSystem", L"HVHOST", L"Hosting Computer System");
    vm1 = system(L"Msvm_ComputerSystem", kVm1, L"Virtual Machine");
    vm2 = system(L"Msvm_ComputerSystem", kVm2, L"Virtual Machine");
    repo.set(vm2, L"EnabledState", Value::uint16(3));
    repo.set(vm1, L"ElementName", Value::string(L"web"));

    auto sepsd = [&](const std::wstring& id, const wchar_t* name) {
      return add(L"Msvm_SyntheticEthernetPortSettingData",
                 {{L"InstanceID", Value::string(id)},
                  {L"ElementName", Value::string(name)},
                  {L"ResourceType", Value::string(L"10")},  // converted like Put does
                  {L"ResourceSubType", Value::string(L"Microsoft Synthetic Ethernet Port")},
                  {L"Address", Value::string(L"00155D010203")},
                  {L"Connection", Value::string_array({L""})}});
    };
    adapter = sepsd(L"Microsoft:" + kVm1 + L"\\" + kAdapter, L"Network Adapter");
    default_settings = sepsd(L"Microsoft:Definition\\" + kAdapter + L"\\Default", L"Default");

    vswitch = system(L"Msvm_VirtualSwitch", L"SW-1", L"Virtual Switch");
    port1 = sap(L"Msvm_SwitchPort", L"PORT-1", L"SW-1", L"Msvm_VirtualSwitch");
    port2 = sap(L"Msvm_SwitchPort", L"PORT-2", L"SW-1", L"Msvm_VirtualSwitch");
    add(L"Msvm_HostedAccessPoint", {{L"Antecedent", ref(vswitch)}, {L"Dependent", ref(port1)}});
    add(L"Msvm_HostedAccessPoint", {{L"Antecedent", ref(vswitch)}, {L"Dependent", ref(port2)}});

    vm_endpoint = sap(L"Msvm_VmLANEndpoint", L"vm-lan-" + cim::fold(kVm1), kVm1, L"Msvm_ComputerSystem");
    add(L"Msvm_ActiveConnection", {{L"Antecedent", ref(port1)}, {L"Dependent", ref(vm_endpoint)}});

    auto device = [&](const wchar_t* cls, const std::wstring& id) {
      return add(cls, {{L"CreationClassName", Value::string(cls)},
                       {L"DeviceID", Value::string(id)},
                       {L"SystemCreationClassName", Value::string(L"Msvm_ComputerSystem")},
                       {L"SystemName", Value::string(L"HVHOST")},
                       {L"ActiveMaximumTransmissionUnit", Value::uint32(1500)}});
    };
    internal_port = device(L"Msvm_InternalEthernetPort", L"Microsoft:INTERNAL-1");
    switch_endpoint = sap(L"Msvm_SwitchLANEndpoint", L"INTERNAL-1", L"HVHOST", L"Msvm_ComputerSystem");
    add(L"Msvm_GlobalEthernetPortSAPImplementation",
        {{L"Antecedent", ref(internal_port)}, {L"Dependent", ref(switch_endpoint)}});
    add(L"Msvm_ActiveConnection", {{L"Antecedent", ref(port2)}, {L"Dependent", ref(switch_endpoint)}});
    external_port = device(L"Msvm_ExternalEthernetPort", kExternalDevice);

    capabilities = add(L"Msvm_AllocationCapabilities", {{L"InstanceID", Value::string(L"Microsoft:Caps\\Ethernet")}});
    sdc = add(L"Msvm_SettingsDefineCapabilities", {{L"GroupComponent", ref(capabilities)},
                                                   {L"PartComponent", ref(default_settings)},
                                                   {L"ValueRole", Value::uint16(0)},
                                                   {L"ValueRange", Value::uint16(0)}});
  }
};

}  // namespace simhost::test
