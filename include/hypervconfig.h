// hypervconfig: see and change a Hyper-V host's virtual networking through WMI
// (namespace ROOT\VIRTUALIZATION).
//
// One exported class, HypervConfig. Every public operation that does work opens its own WMI
// connection, does its work and closes the connection before it returns; it returns 0 for
// success and 1 for failure. Enumerations fill a caller-supplied buffer with fixed-layout
// records (below) and store the number of bytes written; the buffer must have room for one
// record per object on the host. Only one operation may run at a time in a process.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <cstddef>

#if defined(_WIN32)
#if defined(HYPERVCONFIG_BUILD)
#define HYPERVCONFIG_API __declspec(dllexport)
#elif defined(HYPERVCONFIG_STATIC)  // linked from the static library, as the tests do
#define HYPERVCONFIG_API
#else
#define HYPERVCONFIG_API __declspec(dllimport)
#endif
#else
#define HYPERVCONFIG_API __attribute__((visibility("default")))
#endif

// All records: little-endian, laid back to back in the caller's buffer, zero wherever no field
// is filled. Text fields hold 8-bit text, zero-terminated, cut to the field's width less one.

// One external (physical) Ethernet port of the host, 386 bytes.
struct vExtPort {
  char ElementName[64];        // the port's display name
  char DeviceID[320];          // the identifier CreateVSwitch takes for an external switch
  unsigned short HealthState;  // low 16 bits of the port's HealthState
};

// One synthetic network adapter of a virtual machine, 408 bytes.
struct vAdapter {
  char InstanceID[128];
  char ElementName[128];  // display name
  char Address[24];       // MAC address, 12 hexadecimal digits
  char Connection[128];   // last key value of the connected switch port's path, or empty
};

// One virtual machine, 16328 bytes.
struct vMachines {
  char Name[128];                   // the machine's identifier (a GUID text)
  char SwitchName[24][128];         // Name of each switch the machine is connected to
  char SwitchElementName[24][128];  // display name of the same switch, same index
  char Reserved[192];
  char ElementName[64];         // display name
  unsigned short SwitchCount;   // entries used in SwitchName/SwitchElementName
  unsigned short HealthState;   // 5 OK, 20 major failure, 25 critical failure
  unsigned short EnabledState;  // 2 running, 3 off, 32768 paused, 32769 saved, ...
  unsigned short AdapterCount;  // entries used in Adapters
  vAdapter Adapters[24];
};

// One virtual switch, 6582 bytes.
struct vNetwork {
  char Name[3328];            // the switch's identifier (a GUID text)
  char ElementName[128];      // display name
  char PortDeviceID[128];     // DeviceID of the Ethernet port the switch is bound to
  char PortName[2944];        // Name of that port
  unsigned short SwitchType;  // 1 external, 2 internal, 0 neither
  char Reserved[48];
  unsigned short HealthState;
  unsigned short EnabledState;
};

// One virtual machine as GetAdapters lists it, 368 bytes: the machine's identity and state at
// the head of the record, the rest zero. GetAdapters lists every machine; its text argument
// does not filter.
struct vAssocAdapter {
  char Name[128];        // the machine's identifier, as vMachines::Name
  char ElementName[64];  // display name, as vMachines::ElementName
  unsigned short HealthState;
  unsigned short EnabledState;
  char Reserved[172];
};

static_assert(sizeof(vExtPort) == 386, "vExtPort is 386 bytes");
static_assert(offsetof(vExtPort, ElementName) == 0);
static_assert(offsetof(vExtPort, DeviceID) == 64);
static_assert(offsetof(vExtPort, HealthState) == 384);

static_assert(sizeof(vAdapter) == 408, "vAdapter is 408 bytes");
static_assert(offsetof(vAdapter, InstanceID) == 0);
static_assert(offsetof(vAdapter, ElementName) == 128);
static_assert(offsetof(vAdapter, Address) == 256);
static_assert(offsetof(vAdapter, Connection) == 280);

static_assert(sizeof(vMachines) == 16328, "vMachines is 16328 bytes");
static_assert(offsetof(vMachines, Name) == 0);
static_assert(offsetof(vMachines, SwitchName) == 128);
static_assert(offsetof(vMachines, SwitchElementName) == 3200);
static_assert(offsetof(vMachines, Reserved) == 6272);
static_assert(offsetof(vMachines, ElementName) == 6464);
static_assert(offsetof(vMachines, SwitchCount) == 6528);
static_assert(offsetof(vMachines, HealthState) == 6530);
static_assert(offsetof(vMachines, EnabledState) == 6532);
static_assert(offsetof(vMachines, AdapterCount) == 6534);
static_assert(offsetof(vMachines, Adapters) == 6536);

static_assert(sizeof(vNetwork) == 6582, "vNetwork is 6582 bytes");
static_assert(offsetof(vNetwork, Name) == 0);
static_assert(offsetof(vNetwork, ElementName) == 3328);
static_assert(offsetof(vNetwork, PortDeviceID) == 3456);
static_assert(offsetof(vNetwork, PortName) == 3584);
static_assert(offsetof(vNetwork, SwitchType) == 6528);
static_assert(offsetof(vNetwork, Reserved) == 6530);
static_assert(offsetof(vNetwork, HealthState) == 6578);
static_assert(offsetof(vNetwork, EnabledState) == 6580);

static_assert(sizeof(vAssocAdapter) == 368, "vAssocAdapter is 368 bytes");
static_assert(offsetof(vAssocAdapter, Name) == 0);
static_assert(offsetof(vAssocAdapter, ElementName) == 128);
static_assert(offsetof(vAssocAdapter, HealthState) == 192);
static_assert(offsetof(vAssocAdapter, EnabledState) == 194);
static_assert(offsetof(vAssocAdapter, Reserved) == 196);

class HYPERVCONFIG_API HypervConfig {
 public:
  HypervConfig();
  ~HypervConfig();
  HypervConfig& operator=(const HypervConfig& other);

  // The object's error text: always empty, whatever the argument.
  char* GetErrStr(int);

  // Hold the WMI connection open around GetVirtualNetworkAdapters: 0 when open, -1 on failure.
  int OpenWMINamespace();
  // Closes the connection (releasing nothing when it is closed) and uninitialises COM once; 0.
  int CloseWMINamespace();

  // Enumerations: fill `buffer` with records, store the byte count in `*size`.
  int GetExternalPorts(void* buffer, unsigned long* size);         // vExtPort
  int GetVirtualMachines(void* buffer, unsigned long* size);       // vMachines
  int GetVirtualSwitches(void* buffer, unsigned long* size);       // vNetwork
  int GetAdapters(void* buffer, unsigned long* size, char* name);  // vAssocAdapter

  // Fills one record's adapter list from the machine `vmName` (its Name), on the open connection.
  int GetVirtualNetworkAdapters(char* vmName, vMachines* vm);

  // Switches: type 1 external (bound to the port whose DeviceID is given), 2 internal, else none.
  int CreateVSwitch(char* extPortDeviceID, char* switchName, int switchType);
  int DeleteVSwitch(char* switchName);  // by display name

  // State: 0 shuts the guest down; other values are RequestStateChange's RequestedState.
  int SetVMState(char* vmName, int state);

  // Connect or disconnect the adapter with MAC address `mac` of machine `vmName` (its Name) to
  // or from the switch `switchName` (its Name).
  int AddVirtNetToVirtMachine(char* switchName, char* vmName, char* mac);
  int RemoveVirtNetFromVirtMachine(char* switchName, char* vmName, char* mac);

 private:
  friend class HypervConfigTestAccess;  // the test suites' one way in

  int OpenWMIReferences();
  int closeWMIReferences();
  void StrToLower(char* source, char* destination);
  int GetJobStatus(void* outParams, int report);
  int GetAllExtPorts(int* count);
  int GetAllVMS(vMachines* records, int* count);
  int GetVSwitchListForVM(int vmIndex);
  int GetAllVswitches(vNetwork* records, int* count);
  int GetAssociatedAdapters(int* count, char* name);
  int CreateVirtNetwork(char* extPortDeviceID, char* switchName, int switchType);
  int DeleteVirtNetwork(char* switchName);
  int RemovePrivateSwitch(char* switchGuid);
  int VMStateChange(char* vmName, int state);
  int InitiateShutdownA(char* vmName, IEnumWbemClassObject* machines, IWbemClassObject** outParams);
  long GetSwitchPortDetails(IWbemClassObject* adapter, IWbemClassObject** port, VARIANT* portPath);
  long DeleteVirtualSwitchPort(IWbemClassObject* port, VARIANT* portPath);
  long CreateVirtualSwitchPort(VARIANT* switchPath, char* portName);
  long SetVNetAdapterToSwitchPortConnection(char* portName, VARIANT* adapterPath, IWbemClassObject* adapter,
                                            VARIANT* vmPath);
  long AttachSwitchPortToVirtualNetAdapter(char* portName, VARIANT* adapterPath, IWbemClassObject* adapter,
                                           VARIANT* vmPath);
  long DetachSwitchPortFromVirtualNetAdapter(VARIANT* adapterPath, IWbemClassObject* adapter, VARIANT* vmPath);
  int PlugUnplug(char* vmName, char* switchName, char* mac, unsigned char plug);
  int AttachVNTOVM(char* switchName, char* vmName, char* mac);
  int DetachVNFromVM(char* switchName, char* vmName, char* mac);
  IWbemClassObject* GetSyntheticPort(IEnumWbemClassObject* settings, char* switchName);
  int RemoveVNicFromVM(IWbemClassObject* resource, VARIANT& resourcePath, VARIANT& vmPath, char* name);
  IWbemClassObject* CreateNetworkAdapter(VARIANT vmPath, char* searchPath, int kind);

  unsigned char m_first;  // holds the object at the 1025 bytes that callers allocate; nothing uses it
  char m_errStr[1024];    // zero-filled; GetErrStr hands out its address
};

static_assert(sizeof(HypervConfig) == 1025, "HypervConfig holds one byte and the 1024-char error text");
