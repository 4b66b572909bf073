// Adapter connectivity. Not built yet: every member reports failure and changes nothing, so that
// the exported interface is complete while the operations are written.
#include "hypervconfig.h"

int HypervConfig::AddVirtNetToVirtMachine(char*, char*, char*) { return 1; }
int HypervConfig::RemoveVirtNetFromVirtMachine(char*, char*, char*) { return 1; }
long HypervConfig::GetSwitchPortDetails(IWbemClassObject*, IWbemClassObject**, VARIANT*) { return E_NOTIMPL; }
long HypervConfig::DeleteVirtualSwitchPort(IWbemClassObject*, VARIANT*) { return E_NOTIMPL; }
long HypervConfig::CreateVirtualSwitchPort(VARIANT*, char*) { return E_NOTIMPL; }
long HypervConfig::SetVNetAdapterToSwitchPortConnection(char*, VARIANT*, IWbemClassObject*, VARIANT*) {
  return E_NOTIMPL;
}
long HypervConfig::AttachSwitchPortToVirtualNetAdapter(char*, VARIANT*, IWbemClassObject*, VARIANT*) {
  return E_NOTIMPL;
}
long HypervConfig::DetachSwitchPortFromVirtualNetAdapter(VARIANT*, IWbemClassObject*, VARIANT*) { return E_NOTIMPL; }
int HypervConfig::PlugUnplug(char*, char*, char*, unsigned char) { return 1; }
int HypervConfig::AttachVNTOVM(char*, char*, char*) { return 1; }
int HypervConfig::DetachVNFromVM(char*, char*, char*) { return 1; }
IWbemClassObject* HypervConfig::GetSyntheticPort(IEnumWbemClassObject*, char*) { return nullptr; }
int HypervConfig::RemoveVNicFromVM(IWbemClassObject*, VARIANT&, VARIANT&, char*) { return 1; }
IWbemClassObject* HypervConfig::CreateNetworkAdapter(VARIANT, char*, int) { return nullptr; }
