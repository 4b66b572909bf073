#include "adapters/shared.h"

#include <cstdio>
#include <cstring>

#include "core/bstr.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"

namespace hvc {

HRESULT PrepareServiceCall(const ServiceSteps& steps, MethodCall& call) {
  HRESULT hr = call.Class(steps.className, false, steps.noClass);
  if (hr == 0)
    hr = call.Instance(steps.query, steps.noQuery, steps.noInstance);
  if (hr == 0)
    hr = call.Signature(steps.method, false, steps.noMethod);
  if (hr == 0)
    hr = call.Spawn("Unable to spawn instance 0x%x");
  return hr;
}

HRESULT CallService(MethodCall& call, const wchar_t* method, ComPtr<IWbemClassObject>& out, bool showPath) {
  VariantHolder path;
  HRESULT hr = GetProperty(call.InstanceObject(), L"__PATH", path);
  if (FAILED(hr)) {
    ReportHresultWithLastError("Could not get path. Error code = 0x", hr);
    return hr;
  }
  if (showPath) {
    char text[1024];
    CopyCut(text, path.Get());
    std::printf("Path variable %s\n", text);
  }
  hr = CallMethod(path.Get(), method, call.In(), out);
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
  HRESULT hr = 0;
  const Found found = FindFirst(wql::Quoted(wql::kSwitchPortByName, name), port, hr);
  if (found == Found::noQuery)
    LogMsg("Unable to query Msvm_SwitchPort");
  else if (found == Found::noObject)
    LogMsg("Unable to fetch Msvm_SwitchPort object");
  return found == Found::object ? 0 : hr;
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

}  // namespace hvc
