// Virtual machine state control. Not built yet: every member reports failure and changes
// nothing, so that the exported interface is complete while the operations are written.
#include "hypervconfig.h"

int HypervConfig::SetVMState(char*, int) { return 1; }
int HypervConfig::VMStateChange(char*, int) { return 1; }
int HypervConfig::InitiateShutdownA(char*, IEnumWbemClassObject*, IWbemClassObject**) { return 1; }
