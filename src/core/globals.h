// The process-wide WMI connection and result lists, shared by every HypervConfig object. Only
// hvc::Connection (core/connection.h) releases the connection; the call frame frees the lists.
#pragma once

#include "hypervconfig.h"

extern IWbemLocator* g_pLocator;
extern IWbemServices* g_pServices;
extern vExtPort* g_extPortList;
extern vMachines* g_vmList;
extern vNetwork* g_switchList;
extern vAssocAdapter* g_adapterList;
