#include "switches/switch_service.h"

#include "platform/log.h"
#include "platform/wql.h"

namespace hvc {

bool OpenSwitchService(MethodCall& service, const char* noServiceLog) {
  return service.Instance(wql::kSwitchService, noServiceLog, noServiceLog) == 0 &&
         service.Class(L"Msvm_VirtualSwitchManagementService", true) == 0;
}

bool PrepareSwitchMethod(MethodCall& service, const wchar_t* method) {
  return service.Signature(method, true) == 0 && service.Spawn() == 0;
}

HRESULT PutPath(IWbemClassObject* in, const wchar_t* name, const VARIANT& path) {
  VARIANT value = path;  // borrowed: Put copies it
  return in->Put(name, 0, &value, CIM_REFERENCE);
}

SwitchEnding MethodNotExecuted(HRESULT hr) {
  ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
  return {1, Leave::closed};
}

}  // namespace hvc
