// One record per virtual machine: its identity and state (see vAssocAdapter).
#include "hypervconfig.h"
#include "core/frame.h"
#include "core/globals.h"
#include "inventory/lists.h"

int HypervConfig::GetAdapters(void* buffer, unsigned long* size, char* name) {
  return hvc::EnumeratingFrame([this] { return OpenWMIReferences(); },
                               [this, name](int* count) { return GetAssociatedAdapters(count, name); }, g_adapterList,
                               buffer, size);
}

int HypervConfig::GetAssociatedAdapters(int* count, char*) {
  return hvc::ListMachines(g_adapterList, count, [](int, IWbemClassObject*) {});
}
