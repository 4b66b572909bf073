#include "platform/wmi.h"

#include <cstdio>
#include <cstring>

#include "core/bstr.h"
#include "core/globals.h"

namespace hvc {

HRESULT ExecQuery(const std::string& text, long flags, ComPtr<IEnumWbemClassObject>& result) {
  const SharedBstr language("WQL");
  const SharedBstr query(text.c_str());
  return g_pServices->ExecQuery(language.Bstr(), query.Bstr(), flags, nullptr, result.Put());
}

HRESULT NextObject(IEnumWbemClassObject* enumerator, ComPtr<IWbemClassObject>& object, ULONG& returned) {
  returned = 0;
  return enumerator->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Put(), &returned);
}

HRESULT GetProperty(IWbemClassObject* object, const wchar_t* name, VariantHolder& value) {
  return object->Get(name, 0, value.Put(), nullptr, nullptr);
}

void GetText(IWbemClassObject* object, const wchar_t* name, char* buffer, std::size_t capacity) {
  VariantHolder value;
  GetProperty(object, name, value);
  CopyToNarrow(buffer, capacity, value.Get());
}

unsigned short Uint16Of(const VARIANT& value) {
  switch (value.vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return static_cast<unsigned short>(value.lVal & 0xFFFF);
    case VT_I2:
    case VT_UI2:
      return static_cast<unsigned short>(value.uiVal);
    case VT_UI1:
      return value.bVal;
    case VT_BOOL:
      return static_cast<unsigned short>(value.boolVal);
    default:
      return 0;
  }
}

unsigned short GetUint16(IWbemClassObject* object, const wchar_t* name) {
  VariantHolder value;
  GetProperty(object, name, value);
  return Uint16Of(value.Get());
}

HRESULT PutText(IWbemClassObject* object, const wchar_t* name, const char* text, CIMTYPE type) {
  VariantHolder value;
  value.Get().vt = VT_BSTR;
  value.Get().bstrVal = AnsiToBstr(text);
  return object->Put(name, 0, &value.Get(), type);
}

HRESULT PutWideText(IWbemClassObject* object, const wchar_t* name, const wchar_t* text, CIMTYPE type) {
  VariantHolder value;
  value.Get().vt = VT_BSTR;
  value.Get().bstrVal = SysAllocString(text);
  if (text != nullptr && value.Get().bstrVal == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  return object->Put(name, 0, &value.Get(), type);
}

HRESULT MakeOneElementArray(const wchar_t* element, VariantHolder& array) {
  SAFEARRAY* elements = SafeArrayCreateVector(VT_BSTR, 0, 1);
  if (elements == nullptr)
    RaiseComError(E_OUTOFMEMORY);
  VARIANT& value = *array.Put();
  value.vt = VT_ARRAY | VT_BSTR;
  value.parray = elements;
  BstrPtr copy(SysAllocString(element != nullptr ? element : L""));
  LONG index = 0;
  return SafeArrayPutElement(elements, &index, copy.Get());
}

bool FirstObject(const std::string& query, ComPtr<IWbemClassObject>& object, DWORD pause) {
  object.Reset();
  ComPtr<IEnumWbemClassObject> found;
  if (FAILED(ExecQuery(query, kImmediate, found)) || !found)
    return false;
  if (pause != 0)
    Sleep(pause);
  ULONG returned = 0;
  if (NextObject(found.Get(), object, returned) != WBEM_S_NO_ERROR || returned == 0 || !object) {
    object.Reset();
    return false;
  }
  return true;
}

HRESULT GetClassShown(const wchar_t* className, ComPtr<IWbemClassObject>& classObject) {
  const SharedBstr name(className);
  const HRESULT hr = g_pServices->GetObject(name.Bstr(), 0, nullptr, classObject.Put(), nullptr);
  std::printf("\nGetObject returned 0x%x:", static_cast<unsigned>(hr));
  return hr;
}

HRESULT GetMethodShown(IWbemClassObject* classObject, const wchar_t* method, ComPtr<IWbemClassObject>& signature) {
  const HRESULT hr = classObject->GetMethod(method, 0, signature.Put(), nullptr);
  std::printf("\nGetMethod returned 0x%x:", static_cast<unsigned>(hr));
  return hr;
}

HRESULT SpawnInParameters(IWbemClassObject* classObject, const wchar_t* method, ComPtr<IWbemClassObject>& in) {
  in.Reset();
  ComPtr<IWbemClassObject> signature;
  const HRESULT hr = GetMethodShown(classObject, method, signature);
  if (hr != 0)
    return hr;
  if (!signature)
    return static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS);
  return signature->SpawnInstance(0, in.Put());
}

HRESULT CallMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out) {
  const SharedBstr name(method);
  return g_pServices->ExecMethod(path.vt == VT_BSTR ? path.bstrVal : nullptr, name.Bstr(), 0, nullptr, in, out.Put(),
                                 nullptr);
}

unsigned short ReturnValueOf(IWbemClassObject* outParams) {
  return outParams != nullptr ? GetUint16(outParams, L"ReturnValue") : 0;
}

GuidName NewGuidName() {
  GuidName result{};
  GUID guid{};
  CoCreateGuid(&guid);
  StringFromGUID2(guid, result.braced, 41);
  char narrow[41] = {};
  WideCharToMultiByte(CP_ACP, 0, result.braced, -1, narrow, 41, " ", nullptr);
  std::memcpy(result.name, narrow + 1, 36);
  return result;
}

void CopyCut(char* field, std::size_t width, const char* text) {
  if (width == 0)
    return;
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length > width - 1)
    length = width - 1;
  if (length > 0)
    std::memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace hvc
