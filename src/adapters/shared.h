// Steps that the adapter connectivity members share: readying and running a management
// service's method, finding a switch port, rendering settings as text.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include "core/com_ptr.h"
#include "platform/wmi.h"

namespace hvc {

// The steps that ready a method of a management service, with their log lines. A format with a
// conversion is given the failing step's HRESULT.
struct ServiceSteps {
  const wchar_t* className;
  const char* query;  // selects the service's instances
  const wchar_t* method;
  const char* noClass;     // GetObject of the class failed
  const char* noQuery;     // ExecQuery failed
  const char* noInstance;  // Next handed back no instance
  const char* noMethod;    // GetMethod failed
};

// GetObject of the class, the query's first instance, GetMethod and SpawnInstance ("Unable to
// spawn instance 0x%x"); the first non-zero HRESULT, after the failing step's log line.
HRESULT PrepareServiceCall(const ServiceSteps& steps, MethodCall& call);

// ExecMethod of `method` on the readied service: its "__PATH" is read (a negative result goes to
// the console with the last error), shown as "Path variable %s\n" when `showPath`, and the call
// made; a non-zero HRESULT prints the raw values, then the console line with the last error.
HRESULT CallService(MethodCall& call, const wchar_t* method, ComPtr<IWbemClassObject>& out, bool showPath);

// Prints `console` and logs `log`, both given `hr`, when `hr` is negative; returns `hr`.
HRESULT ReportIfFailed(HRESULT hr, const char* console, const char* log);

// The port named `name` ("Select * from Msvm_SwitchPort where Name='...'"). A failed query logs
// "Unable to query Msvm_SwitchPort" and returns its HRESULT; no port logs "Unable to fetch
// Msvm_SwitchPort object" and returns what Next returned.
HRESULT FindSwitchPort(const char* name, ComPtr<IWbemClassObject>& port);

// Renders objects as CIM DTD 2.0 XML with qualifiers and system properties, as the virtual
// system management service takes settings.
class SettingsText {
 public:
  // Creates the context and the text source. A failure prints its console line and, when `log`
  // is set, logs it too; the HRESULT is returned.
  HRESULT Open(bool log);
  HRESULT Render(IWbemClassObject* object, BstrPtr& text) const;

 private:
  ComPtr<IWbemContext> context_;
  ComPtr<IWbemObjectTextSrc> source_;
};

}  // namespace hvc
