// The WMI operations every worker uses, on the process-wide connection (g_pServices): one helper
// per job.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <cstddef>
#include <string>

#include "core/com_ptr.h"

namespace hvc {

// ExecQuery flags: return immediately (16), and forward-only too (48).
inline constexpr long kImmediate = WBEM_FLAG_RETURN_IMMEDIATELY;
inline constexpr long kForwardOnly = WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY;

// ExecQuery("WQL", text, flags, no context) on g_pServices.
HRESULT ExecQuery(const std::string& text, long flags, ComPtr<IEnumWbemClassObject>& result);

// One object from an enumerator, waiting without a time-out. `returned` is what Next reports.
HRESULT NextObject(IEnumWbemClassObject* enumerator, ComPtr<IWbemClassObject>& object, ULONG& returned);

// The enumerator's next object; empty when it hands back none (a null enumerator has none).
ComPtr<IWbemClassObject> FirstOf(IEnumWbemClassObject* enumerator);

// The first object of a query (ExecQuery with flags 16, then one Next), read `pause` milliseconds
// after the query was issued. FindFirst says how a lookup failed: `noQuery` when the query fails
// (`hr` its result), `noObject` when it hands back nothing (`hr` Next's result, never a success);
// FirstObject's object is empty then.
enum class Found { object, noQuery, noObject };
Found FindFirst(const std::string& query, ComPtr<IWbemClassObject>& object, HRESULT& hr, DWORD pause = 0);
ComPtr<IWbemClassObject> FirstObject(const std::string& query, DWORD pause = 0);

// Get(name, 0, value, no type, no flavour).
HRESULT GetProperty(IWbemClassObject* object, const wchar_t* name, VariantHolder& value);

// A property's text copied into a narrow buffer of `capacity` bytes (empty when it is no text).
void GetText(IWbemClassObject* object, const wchar_t* name, char* buffer, std::size_t capacity);

// The 16-bit value of an integer property (the low 16 bits of what WMI delivers); 0 otherwise.
unsigned short Uint16Of(const VARIANT& value);
unsigned short GetUint16(IWbemClassObject* object, const wchar_t* name);

// Put(name, 0, value, type) of a VT_BSTR made from narrow text (ANSI code page) or wide text.
HRESULT PutText(IWbemClassObject* object, const wchar_t* name, const char* text, CIMTYPE type);
HRESULT PutWideText(IWbemClassObject* object, const wchar_t* name, const wchar_t* text, CIMTYPE type);

// The BSTR a VARIANT holds, or null.
inline const wchar_t* TextOf(const VARIANT& value) {
  return value.vt == VT_BSTR ? value.bstrVal : nullptr;
}

// A one-dimensional, zero-based SAFEARRAY of one BSTR (a copy of `element`) in a VARIANT of type
// VT_ARRAY | VT_BSTR. Returns the result of putting the element.
HRESULT MakeOneElementArray(const wchar_t* element, VariantHolder& array);

// Element 0 of a one-dimensional string array, as narrow text in a buffer of `capacity` bytes.
// False, with the empty string, when the value is no such array or an empty one.
bool FirstString(const VARIANT& value, char* buffer, std::size_t capacity);

// The value of one key of an object path, without its quotes, cut to `capacity`: the last key
// (after the last '=' and its quote, up to the last '"') or the second (after the second '=' and
// its quote, up to the next '"'). False, with `value` untouched, when the text has no such shape.
enum class Key { second, last };
bool KeyValue(const char* path, Key key, char* value, std::size_t capacity);

// ExecMethod on g_pServices: the target is the BSTR of `path` (an object's __PATH), flags 0, no
// context.
HRESULT CallMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out);

// ReturnValue of a method's out-parameters, as the 16-bit value the workers judge it by.
unsigned short ReturnValueOf(IWbemClassObject* outParams);

// Readying and making one method call, step by step, so that each caller runs the steps it needs
// in its order. A step's `log` line (null: none) is logged when the step fails, given the
// HRESULT only when it has a conversion for it; `shown` steps printf their HRESULT whatever it is.
class MethodCall {
 public:
  // GetObject(className) on g_pServices, printing "\nGetObject returned 0x%x:" when `shown`.
  HRESULT Class(const wchar_t* className, bool shown, const char* log = nullptr);
  // The first instance of `query` (flags 16), whose __PATH the call targets. `noQuery` is logged
  // when the query fails, `noInstance` (given Next's result) when it hands back nothing; the
  // result is then never a success.
  HRESULT Instance(const std::string& query, const char* noQuery = nullptr, const char* noInstance = nullptr);
  // GetMethod(method) on the class object (its in-parameter signature), printing "\nGetMethod
  // returned 0x%x:" when `shown`.
  HRESULT Signature(const wchar_t* method, bool shown, const char* log = nullptr);
  // SpawnInstance(0) of the signature: the in-parameters. A method without in-parameters counts
  // as WBEM_E_INVALID_METHOD_PARAMETERS, so that nothing is ever put into parameters that do not
  // exist.
  HRESULT Spawn(const char* log = nullptr);
  // Class, Signature and Spawn in turn; the first non-zero result.
  HRESULT Prepare(const wchar_t* className, const wchar_t* method, bool shown);
  // ExecMethod of `method` on the instance's __PATH (read at the first call).
  HRESULT Call(const wchar_t* method, ComPtr<IWbemClassObject>& out);

  IWbemClassObject* In() const { return in_.Get(); }
  IWbemClassObject* InstanceObject() const { return instance_.Get(); }
  // The instance's __PATH, read once.
  const VARIANT& InstancePath();

 private:
  ComPtr<IWbemClassObject> class_;
  ComPtr<IWbemClassObject> signature_;
  ComPtr<IWbemClassObject> in_;
  ComPtr<IWbemClassObject> instance_;
  VariantHolder path_;
  bool havePath_ = false;
};

// A new object name: CoCreateGuid, StringFromGUID2 into 41 wide characters ("{...}", 38), then
// the 36 characters between the braces as narrow text (WideCharToMultiByte, ANSI code page,
// default character a blank) in a zero-filled 41-byte buffer.
struct GuidName {
  wchar_t braced[41];  // as StringFromGUID2 wrote it
  char name[41];       // 36 characters, no braces
};
GuidName NewGuidName();

}  // namespace hvc
