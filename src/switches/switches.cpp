// Virtual switch lifecycle. Not built yet: every member reports failure and changes nothing, so
// that the exported interface is complete while the operations are written.
#include "hypervconfig.h"

int HypervConfig::CreateVSwitch(char*, char*, int) { return 1; }
int HypervConfig::DeleteVSwitch(char*) { return 1; }
int HypervConfig::CreateVirtNetwork(char*, char*, int) { return 1; }
int HypervConfig::DeleteVirtNetwork(char*) { return 1; }
int HypervConfig::RemovePrivateSwitch(char*) { return 1; }
