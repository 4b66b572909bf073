// Steps that the adapter connectivity members share: readying and running a management
// service's method, finding a switch port, rendering settings as text, reading a port's name
// out of its path.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <cstddef>

#include "core/com_ptr.h"

namespace hvc {

// The steps that ready a method of a management service, with their log lines. Each format is
// given the failing step's HRESULT; a format without a conversion ignores it.
struct ServiceSteps {
  const wchar_t* className;
  const char* query;  // selects the service's instances
  const wchar_t* method;
  const char* noClass;     // GetObject of the class failed
  const char* noQuery;     // ExecQuery failed
  const char* noInstance;  // Next handed back no instance
  const char* noMethod;    // GetMethod failed
};

// The first instance of a service and fresh in-parameters for one of its methods.
struct ServiceCall {
  ComPtr<IWbemClassObject> service;
  ComPtr<IWbemClassObject> in;
};

// GetObject of the class, the query's first instance, GetMethod and SpawnInstance ("Unable to
// spawn instance 0x%x"). Any non-zero HRESULT fails with that value; no instance fails with what
// Next returned. The failing step logs its line.
HRESULT PrepareServiceCall(const ServiceSteps& steps, ServiceCall& call);

// Get "__PATH" of the service; a negative result goes to the console with the last error.
HRESULT ServicePath(IWbemClassObject* service, VariantHolder& path);

// ExecMethod on the object at `path` (a VT_BSTR), flags 0, no context.
HRESULT ExecMethodOn(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out);

// ExecMethodOn, where a non-zero HRESULT prints the raw values, then the console line with the
// last error.
HRESULT ExecuteMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out);

// What a step that found no object returns: Next's result, never a success.
inline HRESULT NothingFound(HRESULT next) {
  return next != 0 ? next : static_cast<HRESULT>(WBEM_S_FALSE);
}

// HRESULTs and member results are printed with "%x" as 32-bit values.
inline unsigned AsHex(long value) {
  return static_cast<unsigned>(value);
}

// Prints `console` and logs `log`, both given `hr`, when `hr` is negative; returns `hr`.
HRESULT ReportIfFailed(HRESULT hr, const char* console, const char* log);

// The port named `name` ("Select * from Msvm_SwitchPort where Name='...'"). A failed query logs
// "Unable to query Msvm_SwitchPort" and returns its HRESULT; no port logs "Unable to fetch
// Msvm_SwitchPort object" and returns what Next returned.
HRESULT FindSwitchPort(const char* name, ComPtr<IWbemClassObject>& port);

// GetObject of "Msvm_VirtualSystemManagementService" and GetMethod of `method`, each HRESULT
// printed whatever its value; the first non-zero one is returned.
HRESULT SystemServiceMethod(const wchar_t* method, ComPtr<IWbemClassObject>& inSignature);

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

// The value of the second key of an object path, as a port's Name is in its __PATH: after the
// first '=' skip it and the quote, after the next '=' skip it and the quote, and take the text
// up to the following '"'. False, with `name` untouched, when the text has no such shape; nothing
// outside the text or the buffer is read or written.
bool PortNameFromPath(const char* path, char* name, std::size_t capacity);

}  // namespace hvc
