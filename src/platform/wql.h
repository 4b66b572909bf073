// Every WQL text the library sends, built in one place. Values are inserted between the quotes
// as they are given, without escaping.
#pragma once

#include <string>

namespace hvc::wql {

inline constexpr char kExternalPorts[] = "SELECT * FROM Msvm_ExternalEthernetPort";
inline constexpr char kVirtualMachines[] = "SELECT * FROM Msvm_ComputerSystem where Caption='Virtual Machine'";
inline constexpr char kVirtualSwitches[] = "SELECT * FROM Msvm_VirtualSwitch";
inline constexpr char kJobs[] = "Select * from Msvm_ConcreteJob";
inline constexpr char kSwitchService[] = "Select * from Msvm_VirtualSwitchManagementService";
inline constexpr char kSystemService[] = "Select * from Msvm_VirtualSystemManagementService";

// Prefixes that take a value and a closing quote.
inline constexpr char kMachineByNameUpper[] = "SELECT * FROM Msvm_ComputerSystem where Name='";
inline constexpr char kMachineByName[] = "Select * from Msvm_ComputerSystem where Name='";
inline constexpr char kSwitchByNameUpper[] = "SELECT * FROM Msvm_VirtualSwitch where Name='";
inline constexpr char kSwitchByName[] = "Select * from Msvm_VirtualSwitch where Name='";
inline constexpr char kSwitchByElementName[] = "Select * from Msvm_VirtualSwitch where ElementName='";
inline constexpr char kExternalPortByDeviceId[] = "Select * from Msvm_ExternalEthernetPort where DeviceID='";
inline constexpr char kInternalPortByElementName[] = "Select * from Msvm_InternalEthernetPort where ElementName='";
inline constexpr char kSwitchPortByElementName[] = "Select * from Msvm_SwitchPort where ElementName='";
inline constexpr char kSwitchPortByName[] = "Select * from Msvm_SwitchPort where Name='";
inline constexpr char kShutdownComponentBySystem[] = "Select * from Msvm_ShutdownComponent where SystemName='";
inline constexpr char kAdapterByAddress[] = "Select * from Msvm_SyntheticEthernetPortSettingData where Address='";
inline constexpr char kResourcePoolBySubtype[] =
    "select * from Msvm_ResourcePool where ResourceType = '10' and ResourceSubType = '";

// Clauses of association queries; each begins with a blank.
inline constexpr char kResultSwitchPort[] = " where ResultClass=Msvm_SwitchPort";
inline constexpr char kResultLanEndpoint[] = " where ResultClass=CIM_LANEndpoint";
inline constexpr char kAssocActiveConnection[] = " where AssocClass=Msvm_ActiveConnection";
inline constexpr char kAssocGlobalSap[] = " where AssocClass=Msvm_GlobalEthernetPortSAPImplementation";
inline constexpr char kResultAllocationCapabilities[] = " where ResultClass=Msvm_AllocationCapabilities";
inline constexpr char kResultSettingsDefineCapabilities[] = " where ResultClass=Msvm_SettingsDefineCapabilities";
inline constexpr char kResultSyntheticSettings[] = " where ResultClass=Msvm_SyntheticEthernetPortSettingData";

// prefix + value + "'"
std::string Quoted(const char* prefix, const char* value);
// "SELECT * FROM Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:" + name + "%'"
std::string AdaptersOfMachine(const char* machineName);
// "select * from " + " Msvm_SyntheticEthernetPortSettingData where InstanceID like " + "\"%Default%\""
std::string DefaultAdapterSettings();
// "ASSOCIATORS OF {" + path + "}" + clause
std::string AssociatorsOf(const char* path, const char* clause);
// "REFERENCES OF {" + path + "}" + clause
std::string ReferencesOf(const char* path, const char* clause);

}  // namespace hvc::wql
