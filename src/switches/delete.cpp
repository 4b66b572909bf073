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
hvc::StepsEnd DeleteFirstSwitch(const char* switchQuery, const char* argument) {
  hvc::SwitchService service;
  if (!service.Open(nullptr))
    return hvc::Failed();
  hvc::ComPtr<IWbemClassObject> in;
  if (!service.Prepare(L"DeleteSwitch", in))
    return hvc::Failed();

  hvc::ComPtr<IWbemClassObject> vswitch;
  if (!hvc::FirstObject(hvc::wql::Quoted(switchQuery, argument), vswitch)) {
    hvc::LogMsg("Virtual Network not found %s", argument);
    return hvc::Failed();
  }
  hvc::VariantHolder switchPath;
  hvc::GetProperty(vswitch.Get(), L"__PATH", switchPath);
  hvc::PutPath(in.Get(), L"VirtualSwitch", switchPath.Get());

  hvc::ComPtr<IWbemClassObject> out;
  const HRESULT hr = service.Call(L"DeleteSwitch", in.Get(), out);
  if (FAILED(hr))
    return hvc::MethodNotExecuted(hr);
  return hvc::Done();
}

int Finish(HypervConfig& config, const hvc::StepsEnd& end) {
  if (end.then == hvc::StepsEnd::Then::closeConnection)
    config.CloseWMINamespace();
  return end.result;
}

}  // namespace

int HypervConfig::DeleteVSwitch(char* switchName) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [this, switchName] { return DeleteVirtNetwork(switchName); });
}

int HypervConfig::DeleteVirtNetwork(char* switchName) {
  return Finish(*this, DeleteFirstSwitch(hvc::wql::kSwitchByElementName, switchName));
}

int HypervConfig::RemovePrivateSwitch(char* switchGuid) {
  return Finish(*this, DeleteFirstSwitch(hvc::wql::kSwitchByName, switchGuid));
}
