// What every switch operation shares: the switch management service, the convention of its
// method calls, and how a worker's steps end.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include "core/com_ptr.h"

namespace hvc {

// How a worker's steps end. Steps that must drop the connection say so instead of doing it, so
// that the worker closes it only after the steps' own objects are released: nothing is released
// after COM has gone.
struct StepsEnd {
  enum class Then { keep, closeConnection, removeSwitch };
  int result;
  Then then = Then::keep;
};

inline StepsEnd Done() {
  return {0};
}
inline StepsEnd Failed() {
  return {1};
}
inline StepsEnd FailedAndClose() {
  return {1, StepsEnd::Then::closeConnection};
}

// Msvm_VirtualSwitchManagementService as the switch methods use it: its first instance, whose
// path every ExecMethod targets, and its class object, which gives each method's in-parameters.
class SwitchService {
 public:
  // The service instance, then the class object ("\nGetObject returned 0x%x:" printed). False
  // when either is missing; `noServiceLog`, when given, is logged if there is no instance.
  bool Open(const char* noServiceLog);

  // GetMethod (its line printed) and fresh in-parameters; false when either cannot be had.
  bool Prepare(const wchar_t* method, ComPtr<IWbemClassObject>& in) const;

  // ExecMethod on the service's path, read from the instance at the first call.
  HRESULT Call(const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out);

 private:
  ComPtr<IWbemClassObject> instance_;
  ComPtr<IWbemClassObject> class_;
  VariantHolder path_;
  bool havePath_ = false;
};

// Put of an object path (VT_BSTR, CIM reference), as the switch methods take their objects.
HRESULT PutPath(IWbemClassObject* in, const wchar_t* name, const VARIANT& path);

// The method failure line of a call that could not be executed; the steps end and the
// connection is to be closed.
StepsEnd MethodNotExecuted(HRESULT hr);

}  // namespace hvc
