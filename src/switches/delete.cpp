// Deleting a virtual switch: by its display name for the caller, by its Name to undo a creation.
// Both run one procedure; only the query that finds the switch differs.
#include "core/frame.h"
#include "hypervconfig.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"
#include "switches/switch_service.h"

namespace {

// Deletes the first switch that `switchQuery` + `argument` + "'" finds. The provider's
// ReturnValue is not read: an accepted call counts as done, and no job is awaited.
int DeleteFirstSwitch(const char* switchQuery, const char* argument) {
  return hvc::EndWorker([&]() -> hvc::SwitchEnding {
    hvc::MethodCall service;
    if (!hvc::OpenSwitchService(service, nullptr) || !hvc::PrepareSwitchMethod(service, L"DeleteSwitch"))
      return hvc::Failed();
    const hvc::ComPtr<IWbemClassObject> vswitch = hvc::FirstObject(hvc::wql::Quoted(switchQuery, argument));
    if (!vswitch) {
      hvc::LogMsg("Virtual Network not found %s", argument);
      return hvc::Failed();
    }
    hvc::VariantHolder switchPath;
    hvc::GetProperty(vswitch.Get(), L"__PATH", switchPath);
    hvc::PutPath(service.In(), L"VirtualSwitch", switchPath.Get());

    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service.Call(L"DeleteSwitch", out);
    if (FAILED(hr))
      return hvc::MethodNotExecuted(hr);
    return hvc::Done();
  });
}

}  // namespace

int HypervConfig::DeleteVSwitch(char* switchName) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [this, switchName] { return DeleteVirtNetwork(switchName); });
}

int HypervConfig::DeleteVirtNetwork(char* switchName) {
  return DeleteFirstSwitch(hvc::wql::kSwitchByElementName, switchName);
}

int HypervConfig::RemovePrivateSwitch(char* switchGuid) {
  return DeleteFirstSwitch(hvc::wql::kSwitchByName, switchGuid);
}
