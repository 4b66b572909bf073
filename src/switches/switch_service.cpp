#include "switches/switch_service.h"

#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace hvc {

bool SwitchService::Open(const char* noServiceLog) {
  if (!FirstObject(wql::kSwitchService, instance_)) {
    if (noServiceLog != nullptr)
      LogMsg(noServiceLog);
    return false;
  }
  return GetClassShown(L"Msvm_VirtualSwitchManagementService", class_) == 0;
}

bool SwitchService::Prepare(const wchar_t* method, ComPtr<IWbemClassObject>& in) const {
  return SpawnInParameters(class_.Get(), method, in) == 0;
}

HRESULT SwitchService::Call(const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out) {
  if (!havePath_) {
    GetProperty(instance_.Get(), L"__PATH", path_);
    havePath_ = true;
  }
  return CallMethod(path_.Get(), method, in, out);
}

HRESULT PutPath(IWbemClassObject* in, const wchar_t* name, const VARIANT& path) {
  VARIANT value = path;  // borrowed: Put copies it
  return in->Put(name, 0, &value, CIM_REFERENCE);
}

StepsEnd MethodNotExecuted(HRESULT hr) {
  ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
  return FailedAndClose();
}

}  // namespace hvc
