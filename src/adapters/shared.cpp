#include "adapters/shared.h"

#include <cstdio>
#include <cstring>

#include "core/bstr.h"
#include "core/globals.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace hvc {

HRESULT PrepareServiceCall(const ServiceSteps& steps, ServiceCall& call) {
  ComPtr<IWbemClassObject> serviceClass;
  const SharedBstr className(steps.className);
  HRESULT hr = g_pServices->GetObject(className.Bstr(), 0, nullptr, serviceClass.Put(), nullptr);
  if (hr != 0) {
    LogMsg(steps.noClass, AsHex(hr));
    return hr;
  }
  ComPtr<IEnumWbemClassObject> instances;
  hr = ExecQuery(steps.query, kImmediate, instances);
  if (hr != 0) {
    LogMsg(steps.noQuery, AsHex(hr));
    return hr;
  }
  ULONG returned = 0;
  hr = NextObject(instances.Get(), call.service, returned);
  if (returned == 0 || !call.service) {
    LogMsg(steps.noInstance, AsHex(hr));
    return NothingFound(hr);
  }
  ComPtr<IWbemClassObject> signature;
  hr = serviceClass->GetMethod(steps.method, 0, signature.Put(), nullptr);
  if (hr != 0) {
    LogMsg(steps.noMethod, AsHex(hr));
    return hr;
  }
  // Every method called here takes in-parameters; a class that offers none cannot be called.
  hr = signature ? signature->SpawnInstance(0, call.in.Put()) : static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS);
  if (hr != 0) {
    LogMsg("Unable to spawn instance 0x%x", AsHex(hr));
    return hr;
  }
  return 0;
}

HRESULT ServicePath(IWbemClassObject* service, VariantHolder& path) {
  const HRESULT hr = GetProperty(service, L"__PATH", path);
  if (FAILED(hr))
    ReportHresultWithLastError("Could not get path. Error code = 0x", hr);
  return hr;
}

HRESULT ExecMethodOn(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out) {
  const SharedBstr methodName(method);
  return g_pServices->ExecMethod(path.vt == VT_BSTR ? path.bstrVal : nullptr, methodName.Bstr(), 0, nullptr, in,
                                 out.Put(), nullptr);
}

HRESULT ExecuteMethod(const VARIANT& path, const wchar_t* method, IWbemClassObject* in, ComPtr<IWbemClassObject>& out) {
  const HRESULT hr = ExecMethodOn(path, method, in, out);
  if (hr != 0) {
    std::printf("%x %x %x\n", AsHex(hr), static_cast<unsigned>(GetLastError()), 0u);
    ReportHresultWithLastError("Could not execute method. Error code = 0x", hr);
  }
  return hr;
}

HRESULT ReportIfFailed(HRESULT hr, const char* console, const char* log) {
  if (FAILED(hr)) {
    std::printf(console, AsHex(hr));
    LogMsg(log, AsHex(hr));
  }
  return hr;
}

HRESULT FindSwitchPort(const char* name, ComPtr<IWbemClassObject>& port) {
  ComPtr<IEnumWbemClassObject> ports;
  HRESULT hr = ExecQuery(wql::Quoted(wql::kSwitchPortByName, name), kImmediate, ports);
  if (hr != 0) {
    LogMsg("Unable to query Msvm_SwitchPort");
    return hr;
  }
  ULONG returned = 0;
  hr = NextObject(ports.Get(), port, returned);
  if (returned == 0 || !port) {
    LogMsg("Unable to fetch Msvm_SwitchPort object");
    return NothingFound(hr);
  }
  return 0;
}

HRESULT SystemServiceMethod(const wchar_t* method, ComPtr<IWbemClassObject>& inSignature) {
  ComPtr<IWbemClassObject> serviceClass;
  const HRESULT hr = GetClassShown(L"Msvm_VirtualSystemManagementService", serviceClass);
  if (hr != 0)
    return hr;
  return GetMethodShown(serviceClass.Get(), method, inSignature);
}

HRESULT SettingsText::Open(bool log) {
  HRESULT hr = CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemContext,
                                reinterpret_cast<void**>(context_.Put()));
  if (FAILED(hr)) {
    std::printf("Create context failed with %x\n", AsHex(hr));
    if (log)
      LogMsg("CoCreateInstance of IID_IWbemContext failed 0x%x", AsHex(hr));
    return hr;
  }
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  context_->SetValue(L"IncludeQualifiers", 0, &flag);
  flag.boolVal = VARIANT_FALSE;
  context_->SetValue(L"ExcludeSystemProperties", 0, &flag);

  hr = CoCreateInstance(CLSID_WbemObjectTextSrc, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemObjectTextSrc,
                        reinterpret_cast<void**>(source_.Put()));
  if (FAILED(hr)) {
    std::printf("CoCreateInstance of IWbemObjectTextSrc failed %x\n", AsHex(hr));
    if (log)
      LogMsg("CoCreateInstance of IWbemObjectTextSrc failed 0x%x", AsHex(hr));
  }
  return hr;
}

HRESULT SettingsText::Render(IWbemClassObject* object, BstrPtr& text) const {
  return source_->GetText(0, object, WMI_OBJ_TEXT_CIM_DTD_2_0, context_.Get(), text.Put());
}

bool PortNameFromPath(const char* path, char* name, std::size_t capacity) {
  // What follows the next '=' and the character after it; nothing when the text ends first.
  const auto pastKey = [](const char* text) -> const char* {
    const char* equals = std::strchr(text, '=');
    return equals != nullptr && equals[1] != '\0' ? equals + 2 : nullptr;
  };
  const char* rest = pastKey(path);
  const char* value = rest != nullptr ? pastKey(rest) : nullptr;
  const char* end = value != nullptr ? std::strchr(value, '"') : nullptr;
  if (end == nullptr || capacity == 0)
    return false;
  std::size_t length = static_cast<std::size_t>(end - value);
  if (length > capacity - 1)
    length = capacity - 1;
  std::memcpy(name, value, length);
  name[length] = '\0';
  return true;
}

}  // namespace hvc
