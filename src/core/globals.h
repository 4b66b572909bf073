// The process-wide WMI connection and result lists, shared by every HypervConfig object.
#pragma once

#include "hypervconfig.h"

extern HYPERVCONFIG_API IWbemLocator* g_pLocator;
extern HYPERVCONFIG_API IWbemServices* g_pServices;
extern HYPERVCONFIG_API vExtPort* g_extPortList;
extern HYPERVCONFIG_API vMachines* g_vmList;
extern HYPERVCONFIG_API vNetwork* g_switchList;
extern HYPERVCONFIG_API vAssocAdapter* g_adapterList;
