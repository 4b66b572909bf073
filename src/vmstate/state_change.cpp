// Changing a virtual machine's state: RequestStateChange of the machine, or for state 0 a
// shutdown through its guest. A started job is waited for.
#include <cstdint>
#include <cstdio>
#include <iostream>

#include "core/frame.h"
#include "hypervconfig.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace {

constexpr int kGuestShutdown = 0;
constexpr unsigned short kJobStarted = 4096;

// RequestStateChange of the machine with `state` as RequestedState; `out` holds what the
// executed method returned.
hvc::Ending<int> RequestStateChange(IEnumWbemClassObject* machines, const char* vmName, int state,
                                    hvc::ComPtr<IWbemClassObject>& out) {
  const hvc::ComPtr<IWbemClassObject> machine = hvc::FirstOf(machines);
  if (!machine) {
    hvc::LogMsg("VM not found %s", vmName);
    return {1, hvc::Leave::closed};
  }
  hvc::MethodCall call;
  if (call.Prepare(L"Msvm_ComputerSystem", L"RequestStateChange", true) != 0)
    return {1};

  // The state travels as its decimal text; the provider converts it to the parameter's uint16.
  char text[10];
  std::snprintf(text, sizeof text, "%d", state);
  hvc::PutText(call.In(), L"RequestedState", text, CIM_UINT16);

  hvc::VariantHolder path;
  hvc::GetProperty(machine.Get(), L"__PATH", path);
  const HRESULT hr = hvc::CallMethod(path.Get(), L"RequestStateChange", call.In(), out);
  if (FAILED(hr)) {
    hvc::ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
    return {1, hvc::Leave::closed};
  }
  return {0};
}

}  // namespace

int HypervConfig::SetVMState(char* vmName, int state) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); }, [=, this] { return VMStateChange(vmName, state); });
}

int HypervConfig::VMStateChange(char* vmName, int state) {
  hvc::ComPtr<IWbemClassObject> out;
  const int started = hvc::EndWorker([&]() -> hvc::Ending<int> {
    // A query that fails leaves no enumerator: the machine is then not found, exactly as when the
    // query finds nothing.
    hvc::ComPtr<IEnumWbemClassObject> machines;
    hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kMachineByName, vmName), hvc::kImmediate, machines);
    if (state != kGuestShutdown)
      return RequestStateChange(machines.Get(), vmName, state, out);
    // The references go, and the frame balances COM.
    if (InitiateShutdownA(vmName, machines.Get(), out.Put()) != 0)
      return {1, hvc::Leave::references};
    return {0};
  });
  if (started != 0)
    return 1;

  const std::int16_t returned = hvc::AsSigned16(hvc::ReturnValueOf(out.Get()));
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
