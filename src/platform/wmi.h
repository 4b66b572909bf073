// The WMI operations every worker uses, on the process-wide connection (g_pServices).
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

// A one-dimensional, zero-based SAFEARRAY of one BSTR (a copy of `element`) in a VARIANT of type
// VT_ARRAY | VT_BSTR. Returns the result of putting the element.
HRESULT MakeOneElementArray(const wchar_t* element, VariantHolder& array);

// The first object of a query (ExecQuery with flags 16, then one Next), read `pause` milliseconds
// after the query was issued. False, with `object` empty, when the query fails or hands back nothing.
bool FirstObject(const std::string& query, ComPtr<IWbemClassObject>& object, DWORD pause = 0);

// GetObject(className, 0, no context) on g_pServices. "\nGetObject returned 0x%x:" goes to
// standard output with the HRESULT whatever it is, as every caller of a management method shows.
HRESULT GetClassShown(const wchar_t* className, ComPtr<IWbemClassObject>& classObject);

// GetMethod of `method` (its in-parameter signature), printing "\nGetMethod returned 0x%x:" with
// the HRESULT whatever it is.
HRESULT GetMethodShown(IWbemClassObject* classObject, const wchar_t* method, ComPtr<IWbemClassObject>& signature);

// GetMethod(method, 0) on a class object, "\nGetMethod returned 0x%x:" printed whatever the result;
// when it succeeds, SpawnInstance(0) of the in-parameter definition gives `in`. Returns the first
// non-zero HRESULT, so that nothing is ever put into in-parameters that do not exist (a method
// without in-parameters counts as WBEM_E_INVALID_METHOD_PARAMETERS).
HRESULT SpawnInParameters(IWbemClassObject* classObject, const wchar_t* method, ComPtr<IWbemClassObject>& in);

// ExecMethod on g_pServices: the target is the BSTR of `path` (an object's __PATH), flags 0, no
// context.
HRESULT CallMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out);

// ReturnValue of a method's out-parameters, as the 16-bit value the workers judge it by.
unsigned short ReturnValueOf(IWbemClassObject* outParams);

// A new object name: CoCreateGuid, StringFromGUID2 into 41 wide characters ("{...}", 38), then
// the 36 characters between the braces as narrow text (WideCharToMultiByte, ANSI code page,
// default character a blank) in a zero-filled 41-byte buffer.
struct GuidName {
  wchar_t braced[41];  // as StringFromGUID2 wrote it
  char name[41];       // 36 characters, no braces
};
GuidName NewGuidName();

// Copies text into a fixed field, cut to its width less one byte and a zero.
void CopyCut(char* field, std::size_t width, const char* text);
template <std::size_t N>
void CopyCut(char (&field)[N], const char* text) {
  CopyCut(field, N, text);
}

}  // namespace hvc
