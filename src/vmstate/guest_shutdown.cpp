// Asking a running machine's guest to shut itself down through its shutdown component.
#include <cstdio>

#include "core/bstr.h"
#include "hypervconfig.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

int HypervConfig::InitiateShutdownA(char* vmName, IEnumWbemClassObject* machines, IWbemClassObject** outParams) {
  // The machine only has to exist; nothing is read from it. A query that did not run has none.
  if (!hvc::FirstOf(machines))
    return 1;

  hvc::ComPtr<IEnumWbemClassObject> components;
  if (hvc::ExecQuery(hvc::wql::Quoted(hvc::wql::kShutdownComponentBySystem, vmName), hvc::kImmediate, components) !=
      0) {
    hvc::LogMsg("Not able to find enabled VM %s", vmName);
    return 1;
  }
  // The component exists only while the guest runs its shutdown service.
  hvc::ComPtr<IWbemClassObject> component;
  ULONG returned = 0;
  if (hvc::NextObject(components.Get(), component, returned) != 0 || !component) {
    hvc::LogMsg("Not able to find 'enabled' VM %s", vmName);
    return 1;
  }
  std::printf("OBJ %p\n", static_cast<void*>(component.Get()));

  hvc::MethodCall call;
  if (call.Prepare(L"Msvm_ShutdownComponent", L"InitiateShutDown", true) != 0)
    return 1;
  IWbemClassObject* in = call.In();

  hvc::VariantHolder force;
  force.Get().vt = VT_BOOL;
  force.Get().boolVal = VARIANT_TRUE;
  in->Put(L"Force", 0, &force.Get(), CIM_BOOLEAN);
  hvc::PutText(in, L"Reason", "No Comment", CIM_STRING);

  hvc::VariantHolder path;
  const HRESULT read = hvc::GetProperty(component.Get(), L"__PATH", path);
  std::printf("%s %d hres 0x%x\n", "HypervConfig::InitiateShutdownA", 1394, static_cast<unsigned>(read));
  char pathText[1024];
  hvc::CopyCut(pathText, path.Get());
  std::printf("Path variable %s\n", pathText);

  hvc::ComPtr<IWbemClassObject> out;
  if (FAILED(hvc::CallMethod(path.Get(), L"InitiateShutDown", in, out)))
    return 1;
  *outParams = out.Detach();
  return 0;
}
