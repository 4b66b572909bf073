// Inventory enumerations. Not built yet: every member reports failure and touches nothing, so
// that the exported interface is complete while the enumerations are written.
#include "hypervconfig.h"

int HypervConfig::GetExternalPorts(void*, unsigned long*) { return 1; }
int HypervConfig::GetVirtualMachines(void*, unsigned long*) { return 1; }
int HypervConfig::GetVirtualSwitches(void*, unsigned long*) { return 1; }
int HypervConfig::GetAdapters(void*, unsigned long*, char*) { return 1; }
int HypervConfig::GetVirtualNetworkAdapters(char*, vMachines*) { return 1; }
int HypervConfig::GetAllExtPorts(int*) { return 1; }
int HypervConfig::GetAllVMS(vMachines*, int*) { return 1; }
int HypervConfig::GetVSwitchListForVM(int) { return 1; }
int HypervConfig::GetAllVswitches(vNetwork*, int*) { return -1; }
int HypervConfig::GetAssociatedAdapters(int*, char*) { return 1; }
