// The ROOT\virtualization classes the simulated host serves, with the properties and method
// signatures of the Hyper-V (Windows Server 2008 R2 / 2012) class reference that the host uses.
#include "simhost/cim/schema.hpp"

namespace simhost::cim {
namespace {

using T = CimType;

PropertyDecl p(std::wstring name, T t) {
  return {std::move(name), {t, false, {}}, false, {}};
}
PropertyDecl pa(std::wstring name, T t) {
  return {std::move(name), {t, true, {}}, false, {}};
}
PropertyDecl key(std::wstring name, T t = T::String) {
  return {std::move(name), {t, false, {}}, true, {}};
}
PropertyDecl ref_key(std::wstring name, std::wstring cls) {
  return {std::move(name), {T::Reference, false, std::move(cls)}, true, {}};
}

ParameterDecl in(std::wstring name, T t) {
  return {std::move(name), {t, false, {}}, {}};
}
ParameterDecl in_array(std::wstring name, T t) {
  return {std::move(name), {t, true, {}}, {}};
}
ParameterDecl ref(std::wstring name, std::wstring cls) {
  return {std::move(name), {T::Reference, false, std::move(cls)}, {}};
}
ParameterDecl ref_array(std::wstring name, std::wstring cls) {
  return {std::move(name), {T::Reference, true, std::move(cls)}, {}};
}
// Only the methods whose v1 signature has it report a started job in `Job`.
ParameterDecl job() {
  return ref(L"Job", L"CIM_ConcreteJob");
}

Qualifier q(std::wstring name) {
  return {std::move(name), Value::boolean(true)};
}

MethodDecl method(std::wstring name, std::vector<ParameterDecl> ins, std::vector<ParameterDecl> outs) {
  return {std::move(name), std::move(ins), std::move(outs)};
}

void add_core(Schema& s) {
  s.add({L"CIM_ManagedElement",
         L"",
         {p(L"Caption", T::String), p(L"Description", T::String), p(L"ElementName", T::String)},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_ManagedSystemElement",
         L"CIM_ManagedElement",
         {p(L"InstallDate", T::DateTime), p(L"Name", T::String), pa(L"OperationalStatus", T::UInt16),
          pa(L"StatusDescriptions", T::String), p(L"Status", T::String), p(L"HealthState", T::UInt16)},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_LogicalElement", L"CIM_ManagedSystemElement", {}, {}, {q(L"Abstract")}});
  s.add(
      {L"CIM_EnabledLogicalElement",
       L"CIM_LogicalElement",
       {p(L"EnabledState", T::UInt16), p(L"OtherEnabledState", T::String), p(L"RequestedState", T::UInt16),
        p(L"EnabledDefault", T::UInt16), p(L"TimeOfLastStateChange", T::DateTime)},
       {method(L"RequestStateChange", {in(L"RequestedState", T::UInt16), in(L"TimeoutPeriod", T::DateTime)}, {job()})},
       {q(L"Abstract")}});

  s.add({L"CIM_System",
         L"CIM_EnabledLogicalElement",
         {key(L"CreationClassName"), key(L"Name"), p(L"NameFormat", T::String), p(L"PrimaryOwnerName", T::String),
          p(L"PrimaryOwnerContact", T::String), pa(L"Roles", T::String)},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_ComputerSystem",
         L"CIM_System",
         {pa(L"OtherIdentifyingInfo", T::String), pa(L"IdentifyingDescriptions", T::String),
          pa(L"Dedicated", T::UInt16), pa(L"OtherDedicatedDescriptions", T::String), p(L"ResetCapability", T::UInt16),
          pa(L"PowerManagementCapabilities", T::UInt16)}});

  s.add({L"CIM_Service",
         L"CIM_EnabledLogicalElement",
         {key(L"SystemCreationClassName"), key(L"SystemName"), key(L"CreationClassName"), key(L"Name"),
          p(L"PrimaryOwnerName", T::String), p(L"PrimaryOwnerContact", T::String), p(L"StartMode", T::String),
          p(L"Started", T::Boolean)},
         {},
         {q(L"Abstract")}});

  s.add({L"CIM_LogicalDevice",
         L"CIM_EnabledLogicalElement",
         {key(L"SystemCreationClassName"), key(L"SystemName"), key(L"CreationClassName"), key(L"DeviceID"),
          p(L"PowerManagementSupported", T::Boolean), pa(L"PowerManagementCapabilities", T::UInt16),
          p(L"Availability", T::UInt16), p(L"StatusInfo", T::UInt16), p(L"LastErrorCode", T::UInt32),
          p(L"ErrorDescription", T::String), p(L"ErrorCleared", T::Boolean), pa(L"OtherIdentifyingInfo", T::String),
          p(L"PowerOnHours", T::UInt64), p(L"TotalPowerOnHours", T::UInt64), pa(L"IdentifyingDescriptions", T::String),
          pa(L"AdditionalAvailability", T::UInt16), p(L"MaxQuiesceTime", T::UInt64)},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_LogicalPort",
         L"CIM_LogicalDevice",
         {p(L"Speed", T::UInt64), p(L"MaxSpeed", T::UInt64), p(L"RequestedSpeed", T::UInt64),
          p(L"UsageRestriction", T::UInt16), p(L"PortType", T::UInt16), p(L"OtherPortType", T::String)}});
  s.add({L"CIM_NetworkPort",
         L"CIM_LogicalPort",
         {p(L"OtherNetworkPortType", T::String), p(L"PortNumber", T::UInt16), p(L"LinkTechnology", T::UInt16),
          p(L"OtherLinkTechnology", T::String), p(L"PermanentAddress", T::String), pa(L"NetworkAddresses", T::String),
          p(L"FullDuplex", T::Boolean), p(L"AutoSense", T::Boolean), p(L"SupportedMaximumTransmissionUnit", T::UInt64),
          p(L"ActiveMaximumTransmissionUnit", T::UInt64)}});
  s.add({L"CIM_EthernetPort",
         L"CIM_NetworkPort",
         {p(L"MaxDataSize", T::UInt32), pa(L"Capabilities", T::UInt16), pa(L"CapabilityDescriptions", T::String),
          pa(L"EnabledCapabilities", T::UInt16), pa(L"OtherEnabledCapabilities", T::String)}});

  s.add({L"CIM_ServiceAccessPoint",
         L"CIM_EnabledLogicalElement",
         {key(L"SystemCreationClassName"), key(L"SystemName"), key(L"CreationClassName"), key(L"Name")},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_ProtocolEndpoint",
         L"CIM_ServiceAccessPoint",
         {p(L"NameFormat", T::String), p(L"ProtocolType", T::UInt16), p(L"ProtocolIFType", T::UInt16),
          p(L"OtherTypeDescription", T::String)}});
  s.add({L"CIM_LANEndpoint",
         L"CIM_ProtocolEndpoint",
         {p(L"LANID", T::String), p(L"LANType", T::UInt16), p(L"OtherLANType", T::String), p(L"MACAddress", T::String),
          pa(L"AliasAddresses", T::String), pa(L"GroupAddresses", T::String), p(L"MaxDataSize", T::UInt32)}});
  s.add({L"CIM_SwitchPort", L"CIM_ProtocolEndpoint"});

  s.add({L"CIM_SettingData", L"CIM_ManagedElement", {key(L"InstanceID")}, {}, {q(L"Abstract")}});
  s.add({L"CIM_VirtualSystemSettingData",
         L"CIM_SettingData",
         {p(L"VirtualSystemIdentifier", T::String), p(L"VirtualSystemType", T::String), p(L"Notes", T::String),
          p(L"CreationTime", T::DateTime)}});
  s.add({L"CIM_ResourceAllocationSettingData",
         L"CIM_SettingData",
         {p(L"ResourceType", T::UInt16), p(L"OtherResourceType", T::String), p(L"ResourceSubType", T::String),
          p(L"PoolID", T::String), p(L"ConsumerVisibility", T::UInt16), pa(L"HostResource", T::String),
          p(L"AllocationUnits", T::String), p(L"VirtualQuantity", T::UInt64), p(L"Reservation", T::UInt64),
          p(L"Limit", T::UInt64), p(L"Weight", T::UInt32), p(L"AutomaticAllocation", T::Boolean),
          p(L"AutomaticDeallocation", T::Boolean), p(L"Parent", T::String), pa(L"Connection", T::String),
          p(L"Address", T::String), p(L"MappingBehavior", T::UInt16)}});

  s.add({L"CIM_Capabilities", L"CIM_ManagedElement", {key(L"InstanceID")}, {}, {q(L"Abstract")}});
  s.add({L"CIM_AllocationCapabilities",
         L"CIM_Capabilities",
         {p(L"ResourceType", T::UInt16), p(L"OtherResourceType", T::String), p(L"ResourceSubType", T::String),
          p(L"RequestTypesSupported", T::UInt16), p(L"SharingMode", T::UInt16), pa(L"SupportedAddStates", T::UInt16),
          pa(L"SupportedRemoveStates", T::UInt16)}});

  s.add({L"CIM_ResourcePool",
         L"CIM_LogicalElement",
         {key(L"InstanceID"), p(L"PoolID", T::String), p(L"Primordial", T::Boolean), p(L"Capacity", T::UInt64),
          p(L"Reserved", T::UInt64), p(L"ResourceType", T::UInt16), p(L"OtherResourceType", T::String),
          p(L"ResourceSubType", T::String), p(L"AllocationUnits", T::String)}});

  s.add({L"CIM_Job",
         L"CIM_LogicalElement",
         {p(L"JobStatus", T::String),
          p(L"TimeSubmitted", T::DateTime),
          p(L"ScheduledStartTime", T::DateTime),
          p(L"StartTime", T::DateTime),
          p(L"ElapsedTime", T::DateTime),
          p(L"JobRunTimes", T::UInt32),
          p(L"RunMonth", T::UInt8),
          p(L"RunDay", T::SInt8),
          p(L"RunDayOfWeek", T::SInt8),
          p(L"RunStartInterval", T::DateTime),
          p(L"LocalOrUtcTime", T::UInt16),
          p(L"UntilTime", T::DateTime),
          p(L"Notify", T::String),
          p(L"Owner", T::String),
          p(L"Priority", T::UInt32),
          p(L"PercentComplete", T::UInt16),
          p(L"DeleteOnCompletion", T::Boolean),
          p(L"ErrorCode", T::UInt16),
          p(L"ErrorDescription", T::String),
          p(L"RecoveryAction", T::UInt16),
          p(L"OtherRecoveryAction", T::String)},
         {},
         {q(L"Abstract")}});
  s.add({L"CIM_ConcreteJob",
         L"CIM_Job",
         {key(L"InstanceID"), p(L"JobState", T::UInt16), p(L"TimeOfLastStateChange", T::DateTime),
          p(L"TimeBeforeRemoval", T::DateTime)}});
}

void add_associations(Schema& s) {
  const std::vector<Qualifier> assoc{q(L"Association")};
  const std::vector<Qualifier> abstract_assoc{q(L"Association"), q(L"Abstract")};
  s.add({L"CIM_Dependency",
         L"",
         {ref_key(L"Antecedent", L"CIM_ManagedElement"), ref_key(L"Dependent", L"CIM_ManagedElement")},
         {},
         abstract_assoc});
  s.add({L"CIM_Component",
         L"",
         {ref_key(L"GroupComponent", L"CIM_ManagedElement"), ref_key(L"PartComponent", L"CIM_ManagedElement")},
         {},
         abstract_assoc});
  s.add({L"CIM_ElementSettingData",
         L"",
         {ref_key(L"ManagedElement", L"CIM_ManagedElement"), ref_key(L"SettingData", L"CIM_SettingData"),
          p(L"IsDefault", T::UInt16), p(L"IsCurrent", T::UInt16)},
         {},
         assoc});
  s.add({L"CIM_SettingsDefineState",
         L"",
         {ref_key(L"ManagedElement", L"CIM_ManagedElement"), ref_key(L"SettingData", L"CIM_SettingData")},
         {},
         assoc});
  s.add({L"CIM_ElementCapabilities",
         L"",
         {ref_key(L"ManagedElement", L"CIM_ManagedElement"), ref_key(L"Capabilities", L"CIM_Capabilities"),
          pa(L"Characteristics", T::UInt16)},
         {},
         assoc});
  s.add({L"CIM_HostedDependency", L"CIM_Dependency"});
  s.add({L"CIM_HostedAccessPoint", L"CIM_HostedDependency"});
  s.add({L"CIM_DeviceSAPImplementation", L"CIM_Dependency"});
  s.add({L"CIM_SAPSAPDependency", L"CIM_Dependency"});
  s.add({L"CIM_ActiveConnection",
         L"CIM_SAPSAPDependency",
         {p(L"TrafficType", T::UInt16), p(L"OtherTrafficDescription", T::String), p(L"IsUnidirectional", T::Boolean)}});
  s.add({L"CIM_VirtualSystemSettingDataComponent", L"CIM_Component"});
  s.add({L"CIM_SystemComponent", L"CIM_Component", {}, {}, abstract_assoc});
  s.add({L"CIM_SystemDevice", L"CIM_SystemComponent", {}, {}, abstract_assoc});
  s.add({L"CIM_SettingsDefineCapabilities",
         L"CIM_Component",
         {p(L"PropertyPolicy", T::UInt16), p(L"ValueRole", T::UInt16), p(L"ValueRange", T::UInt16)}});

  s.add({L"Msvm_VirtualSystemSettingDataComponent", L"CIM_VirtualSystemSettingDataComponent"});
  s.add({L"Msvm_SettingsDefineState", L"CIM_SettingsDefineState"});
  s.add({L"Msvm_SystemDevice", L"CIM_SystemDevice"});
  s.add({L"Msvm_DeviceSAPImplementation", L"CIM_DeviceSAPImplementation"});
  s.add({L"Msvm_GlobalEthernetPortSAPImplementation", L"CIM_DeviceSAPImplementation"});
  s.add({L"Msvm_HostedAccessPoint", L"CIM_HostedAccessPoint"});
  s.add({L"Msvm_ActiveConnection", L"CIM_ActiveConnection"});
  s.add({L"Msvm_ElementCapabilities", L"CIM_ElementCapabilities"});
  s.add({L"Msvm_SettingsDefineCapabilities", L"CIM_SettingsDefineCapabilities"});
}

void add_msvm(Schema& s) {
  s.add({L"Msvm_ComputerSystem",
         L"CIM_ComputerSystem",
         {p(L"OnTimeInMilliseconds", T::UInt64), p(L"ProcessID", T::UInt32),
          p(L"TimeOfLastConfigurationChange", T::DateTime)}});
  s.add({L"Msvm_VirtualSwitch",
         L"CIM_ComputerSystem",
         {p(L"NumLearnableAddresses", T::UInt32), p(L"MaxVMQOffloads", T::UInt32), p(L"MaxChimneyOffloads", T::UInt32),
          p(L"ScopeOfResidence", T::String)}});

  s.add({L"Msvm_VirtualSystemSettingData",
         L"CIM_VirtualSystemSettingData",
         {p(L"SystemName", T::String), p(L"SettingType", T::UInt16), p(L"OtherVirtualSystemType", T::String),
          p(L"IsSaved", T::Boolean), p(L"BaseBoardSerialNumber", T::String), p(L"BIOSGUID", T::String),
          p(L"BIOSSerialNumber", T::String), p(L"ChassisAssetTag", T::String), p(L"ChassisSerialNumber", T::String),
          pa(L"BootOrder", T::UInt16), p(L"NumLockEnabled", T::Boolean), p(L"Parent", T::String),
          p(L"ExternalDataRoot", T::String), p(L"SnapshotDataRoot", T::String),
          p(L"AutomaticRecoveryAction", T::UInt16), p(L"AutomaticShutdownAction", T::UInt16),
          p(L"AutomaticStartupAction", T::UInt16), p(L"AutomaticStartupActionDelay", T::DateTime)}});
  s.add({L"Msvm_SyntheticEthernetPortSettingData",
         L"CIM_ResourceAllocationSettingData",
         {pa(L"VirtualSystemIdentifiers", T::String), p(L"StaticMacAddress", T::Boolean)}});

  s.add({L"Msvm_SyntheticEthernetPort", L"CIM_EthernetPort"});
  s.add({L"Msvm_ExternalEthernetPort", L"CIM_EthernetPort", {p(L"IsBound", T::Boolean)}});
  s.add({L"Msvm_InternalEthernetPort", L"CIM_EthernetPort", {p(L"IsBound", T::Boolean)}});
  s.add({L"Msvm_ShutdownComponent",
         L"CIM_LogicalDevice",
         {},
         {method(L"InitiateShutdown", {in(L"Force", T::Boolean), in(L"Reason", T::String)}, {})}});

  s.add({L"Msvm_VmLANEndpoint", L"CIM_LANEndpoint"});
  s.add({L"Msvm_SwitchLANEndpoint", L"CIM_LANEndpoint"});
  s.add({L"Msvm_SwitchPort",
         L"CIM_SwitchPort",
         {p(L"ScopeOfResidence", T::String), p(L"VMQOffloadWeight", T::UInt32), p(L"ChimneyOffloadWeight", T::UInt32),
          p(L"AllowMacSpoofing", T::Boolean)}});

  s.add({L"Msvm_VirtualSwitchManagementService",
         L"CIM_Service",
         {},
         {
             method(L"CreateSwitch",
                    {in(L"Name", T::String), in(L"FriendlyName", T::String), in(L"NumLearnableAddresses", T::UInt32),
                     in(L"ScopeOfResidence", T::String)},
                    {ref(L"CreatedVirtualSwitch", L"Msvm_VirtualSwitch")}),
             method(L"DeleteSwitch", {ref(L"VirtualSwitch", L"Msvm_VirtualSwitch")}, {}),
             method(L"CreateSwitchPort",
                    {ref(L"VirtualSwitch", L"Msvm_VirtualSwitch"), in(L"Name", T::String),
                     in(L"FriendlyName", T::String), in(L"ScopeOfResidence", T::String)},
                    {ref(L"CreatedSwitchPort", L"Msvm_SwitchPort")}),
             method(L"DeleteSwitchPort", {ref(L"SwitchPort", L"Msvm_SwitchPort")}, {}),
             method(L"ConnectSwitchPort",
                    {ref(L"SwitchPort", L"Msvm_SwitchPort"), ref(L"LANEndpoint", L"CIM_LANEndpoint")},
                    {ref(L"ActiveConnection", L"Msvm_ActiveConnection")}),
             method(L"DisconnectSwitchPort", {ref(L"SwitchPort", L"Msvm_SwitchPort")}, {}),
             method(L"BindExternalEthernetPort", {ref(L"ExternalEthernetPort", L"Msvm_ExternalEthernetPort")}, {}),
             method(L"UnbindExternalEthernetPort", {ref(L"ExternalEthernetPort", L"Msvm_ExternalEthernetPort")}, {}),
             method(L"CreateInternalEthernetPortDynamicMac", {in(L"Name", T::String), in(L"FriendlyName", T::String)},
                    {ref(L"CreatedInternalEthernetPort", L"Msvm_InternalEthernetPort")}),
             method(L"DeleteInternalEthernetPort", {ref(L"InternalEthernetPort", L"Msvm_InternalEthernetPort")}, {}),
         }});
  s.add({L"CIM_VirtualSystemManagementService", L"CIM_Service"});
  s.add({L"Msvm_VirtualSystemManagementService",
         L"CIM_VirtualSystemManagementService",
         {},
         {
             method(L"ModifyVirtualSystemResources",
                    {ref(L"ComputerSystem", L"CIM_ComputerSystem"), in_array(L"ResourceSettingData", T::String)},
                    {job()}),
             method(L"AddVirtualSystemResources",
                    {ref(L"TargetSystem", L"CIM_ComputerSystem"), in_array(L"ResourceSettingData", T::String)},
                    {ref_array(L"NewResources", L"CIM_ResourceAllocationSettingData"), job()}),
             method(L"RemoveVirtualSystemResources",
                    {ref(L"TargetSystem", L"CIM_ComputerSystem"),
                     ref_array(L"ResourceSettingData", L"CIM_ResourceAllocationSettingData")},
                    {job()}),
         }});

  s.add({L"Msvm_ResourcePool", L"CIM_ResourcePool"});
  s.add({L"Msvm_AllocationCapabilities", L"CIM_AllocationCapabilities"});
  s.add({L"Msvm_ConcreteJob",
         L"CIM_ConcreteJob",
         {p(L"Cancellable", T::Boolean), p(L"ErrorSummaryDescription", T::String)}});
}

Schema build() {
  Schema s;
  add_core(s);
  add_associations(s);
  add_msvm(s);
  return s;
}

}  // namespace

const Schema& virtualization_schema() {
  static const Schema schema = build();
  return schema;
}

}  // namespace simhost::cim
