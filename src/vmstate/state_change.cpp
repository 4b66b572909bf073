// Changing a virtual machine's state: RequestStateChange of the machine, or for state 0 a
// shutdown through its guest. A started job is waited for.
#include <cstdio>
#include <iostream>

#include "core/frame.h"
#include "hypervconfig.h"
#include "core/globals.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

constexpr int kGuestShutdown = 0;
constexpr unsigned short kJobStarted = 4096;

// How the connection is dropped on a failure, once the steps' own objects are released.
enum class Drop {
  none,
  references,  // release both references in place; the frame balances COM
  connection,  // the full close, COM included
};

struct Ending {
  int result;
  Drop drop = Drop::none;
};

// The first machine of the query, or nothing when the query found none or did not run.
hvc::ComPtr<IWbemClassObject> FirstMachine(IEnumWbemClassObject* machines) {
  hvc::ComPtr<IWbemClassObject> machine;
  if (machines == nullptr)
    return machine;
  ULONG returned = 0;
  hvc::NextObject(machines, machine, returned);
  if (returned == 0)
    machine.Reset();
  return machine;
}

// RequestStateChange of the machine with `state` as RequestedState; `out` holds what the
// executed method returned.
Ending RequestStateChange(IEnumWbemClassObject* machines, const char* vmName, int state,
                          hvc::ComPtr<IWbemClassObject>& out) {
  const hvc::ComPtr<IWbemClassObject> machine = FirstMachine(machines);
  if (!machine) {
    hvc::LogMsg("VM not found %s", vmName);
    return {1, Drop::connection};
  }
  hvc::ComPtr<IWbemClassObject> machineClass;
  if (hvc::GetClassShown(L"Msvm_ComputerSystem", machineClass) != 0)
    return {1};
  hvc::ComPtr<IWbemClassObject> in;
  if (hvc::SpawnInParameters(machineClass.Get(), L"RequestStateChange", in) != 0)
    return {1};

  // The state travels as its decimal text; the provider converts it to the parameter's uint16.
  char text[10];
  std::snprintf(text, sizeof text, "%d", state);
  hvc::PutText(in.Get(), L"RequestedState", text, CIM_UINT16);

  hvc::VariantHolder path;
  hvc::GetProperty(machine.Get(), L"__PATH", path);
  const HRESULT hr = hvc::CallMethod(path.Get(), L"RequestStateChange", in.Get(), out);
  if (FAILED(hr)) {
    hvc::ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
    return {1, Drop::connection};
  }
  return {0};
}

}  // namespace

int HypervConfig::SetVMState(char* vmName, int state) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); }, [=, this] { return VMStateChange(vmName, state); });
}

int HypervConfig::VMStateChange(char* vmName, int state) {
  hvc::ComPtr<IWbemClassObject> out;
  Ending ending{0};
  {
    // A query that fails leaves no enumerator: the machine is then not found, exactly as when the
    // query finds nothing.
    hvc::ComPtr<IEnumWbemClassObject> machines;
    hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kMachineByName, vmName), hvc::kImmediate, machines);
    if (state == kGuestShutdown) {
      if (InitiateShutdownA(vmName, machines.Get(), out.Put()) != 0)
        ending = {1, Drop::references};
    } else {
      ending = RequestStateChange(machines.Get(), vmName, state, out);
    }
  }
  if (ending.result != 0) {
    out.Reset();
    if (ending.drop == Drop::connection) {
      closeWMIReferences();
    } else if (ending.drop == Drop::references) {
      if (g_pServices != nullptr)
        g_pServices->Release();
      if (g_pLocator != nullptr)
        g_pLocator->Release();
      g_pServices = nullptr;
      g_pLocator = nullptr;
    }
    return 1;
  }

  const int returned = hvc::AsSigned16(hvc::ReturnValueOf(out.Get()));
  hvc::LogMsg("Return value of RequestStateChange method %d", returned);
  std::cout << "Return value of request state change " << returned << std::endl;
  if (returned == 0)
    return 0;
  if (static_cast<unsigned short>(returned) == kJobStarted)
    return GetJobStatus(out.Get(), 1);
  if (state == kGuestShutdown)
    hvc::LogMsg(
        "Unable to shutdown. Ensure that VM's OS supports shutdown and also if integration packages are installed "
        "and enabled in VM settings");
  return 1;
}
