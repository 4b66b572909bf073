#include "platform/wmi.h"

#include <cstdio>
#include <cstring>

#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"

namespace hvc {

HRESULT ExecQuery(const std::string& text, long flags, ComPtr<IEnumWbemClassObject>& result) {
  const BstrPtr language(AnsiToBstr("WQL"));
  const BstrPtr query(AnsiToBstr(text.c_str()));
  return g_pServices->ExecQuery(language.Get(), query.Get(), flags, nullptr, result.Put());
}

HRESULT NextObject(IEnumWbemClassObject* enumerator, ComPtr<IWbemClassObject>& object, ULONG& returned) {
  returned = 0;
  return enumerator->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Put(), &returned);
}

ComPtr<IWbemClassObject> FirstOf(IEnumWbemClassObject* enumerator) {
  ComPtr<IWbemClassObject> object;
  if (enumerator == nullptr)
    return object;
  ULONG returned = 0;
  NextObject(enumerator, object, returned);
  if (returned == 0)
    object.Reset();
  return object;
}

Found FindFirst(const std::string& query, ComPtr<IWbemClassObject>& object, HRESULT& hr, DWORD pause) {
  object.Reset();
  ComPtr<IEnumWbemClassObject> found;
  hr = ExecQuery(query, kImmediate, found);
  if (hr != 0 || !found) {
    if (hr == 0)
      hr = static_cast<HRESULT>(WBEM_E_FAILED);
    return Found::noQuery;
  }
  if (pause != 0)
    Sleep(pause);
  ULONG returned = 0;
  hr = NextObject(found.Get(), object, returned);
  if (hr != 0 || returned == 0 || !object) {
    object.Reset();
    if (hr == 0)
      hr = static_cast<HRESULT>(WBEM_S_FALSE);
    return Found::noObject;
  }
  return Found::object;
}

ComPtr<IWbemClassObject> FirstObject(const std::string& query, DWORD pause) {
  ComPtr<IWbemClassObject> object;
  HRESULT hr = 0;
  FindFirst(query, object, hr, pause);
  return object;
}

HRESULT GetProperty(IWbemClassObject* object, const wchar_t* name, VariantHolder& value) {
  return object->Get(name, 0, value.Put(), nullptr, nullptr);
}

void GetText(IWbemClassObject* object, const wchar_t* name, char* buffer, std::size_t capacity) {
  VariantHolder value;
  GetProperty(object, name, value);
  CopyCut(buffer, capacity, value.Get());
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
  value.Get().bstrVal = WideBstr(text).Detach();
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

bool FirstString(const VARIANT& value, char* buffer, std::size_t capacity) {
  buffer[0] = '\0';
  if (value.vt != (VT_ARRAY | VT_BSTR) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1)
    return false;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)) ||
      upper < lower)
    return false;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(value.parray, &data)))
    return false;
  CopyCut(buffer, capacity, static_cast<BSTR*>(data)[0]);
  SafeArrayUnaccessData(value.parray);
  return true;
}

bool KeyValue(const char* path, Key key, char* value, std::size_t capacity) {
  // What follows an '=' and the character after it (its quote); nothing when the text ends first.
  const auto pastEquals = [](const char* equals) -> const char* {
    return equals != nullptr && equals[1] != '\0' ? equals + 2 : nullptr;
  };
  const char* start = nullptr;
  const char* end = nullptr;
  if (key == Key::last) {
    start = pastEquals(std::strrchr(path, '='));
    end = start != nullptr ? std::strrchr(start, '"') : nullptr;
  } else {
    const char* rest = pastEquals(std::strchr(path, '='));
    start = rest != nullptr ? pastEquals(std::strchr(rest, '=')) : nullptr;
    end = start != nullptr ? std::strchr(start, '"') : nullptr;
  }
  if (end == nullptr || capacity == 0)
    return false;
  std::size_t length = static_cast<std::size_t>(end - start);
  if (length > capacity - 1)
    length = capacity - 1;
  std::memcpy(value, start, length);
  value[length] = '\0';
  return true;
}

HRESULT CallMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out) {
  const BstrPtr name = WideBstr(method);
  return g_pServices->ExecMethod(path.vt == VT_BSTR ? path.bstrVal : nullptr, name.Get(), 0, nullptr, in, out.Put(),
                                 nullptr);
}

unsigned short ReturnValueOf(IWbemClassObject* outParams) {
  return outParams != nullptr ? GetUint16(outParams, L"ReturnValue") : 0;
}

HRESULT MethodCall::Class(const wchar_t* className, bool shown, const char* log) {
  const BstrPtr name = WideBstr(className);
  const HRESULT hr = g_pServices->GetObject(name.Get(), 0, nullptr, class_.Put(), nullptr);
  if (shown)
    std::printf("\nGetObject returned 0x%x:", AsHex(hr));
  if (hr != 0)
    LogStep(log, hr);
  return hr;
}

HRESULT MethodCall::Instance(const std::string& query, const char* noQuery, const char* noInstance) {
  havePath_ = false;
  HRESULT hr = 0;
  const Found found = FindFirst(query, instance_, hr);
  if (found != Found::object)
    LogStep(found == Found::noQuery ? noQuery : noInstance, hr);
  return found == Found::object ? 0 : hr;
}

HRESULT MethodCall::Signature(const wchar_t* method, bool shown, const char* log) {
  const HRESULT hr = class_->GetMethod(method, 0, signature_.Put(), nullptr);
  if (shown)
    std::printf("\nGetMethod returned 0x%x:", AsHex(hr));
  if (hr != 0)
    LogStep(log, hr);
  return hr;
}

HRESULT MethodCall::Spawn(const char* log) {
  in_.Reset();
  const HRESULT hr =
      signature_ ? signature_->SpawnInstance(0, in_.Put()) : static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS);
  if (hr != 0)
    LogStep(log, hr);
  return hr;
}

HRESULT MethodCall::Prepare(const wchar_t* className, const wchar_t* method, bool shown) {
  HRESULT hr = Class(className, shown);
  if (hr == 0)
    hr = Signature(method, shown);
  if (hr == 0)
    hr = Spawn();
  return hr;
}

const VARIANT& MethodCall::InstancePath() {
  if (!havePath_) {
    GetProperty(instance_.Get(), L"__PATH", path_);
    havePath_ = true;
  }
  return path_.Get();
}

HRESULT MethodCall::Call(const wchar_t* method, ComPtr<IWbemClassObject>& out) {
  return CallMethod(InstancePath(), method, in_.Get(), out);
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

}  // namespace hvc
