// What every switch operation shares: the switch management service and the convention of its
// method calls.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include "core/connection.h"
#include "platform/wmi.h"

namespace hvc {

using SwitchEnding = Ending<int>;

inline SwitchEnding Done() {
  return {0};
}
inline SwitchEnding Failed() {
  return {1};
}

// Msvm_VirtualSwitchManagementService as the switch methods use it: its first instance, whose
// path every ExecMethod targets, then its class object ("\nGetObject returned 0x%x:" printed),
// which gives each method's in-parameters. False when either is missing; `noServiceLog`, when
// given, is logged if there is no instance.
bool OpenSwitchService(MethodCall& service, const char* noServiceLog);

// GetMethod (its line printed) and fresh in-parameters; false when either cannot be had.
bool PrepareSwitchMethod(MethodCall& service, const wchar_t* method);

// Put of an object path (VT_BSTR, CIM reference), as the switch methods take their objects.
HRESULT PutPath(IWbemClassObject* in, const wchar_t* name, const VARIANT& path);

// The method failure line of a call that could not be executed; the steps end and the
// connection is to be closed.
SwitchEnding MethodNotExecuted(HRESULT hr);

}  // namespace hvc
