// Creating a virtual switch, bound to an external port, to a new internal port, or to nothing.
#include <cstdio>
#include <optional>
#include <string>

#include "core/bstr.h"
#include "hypervconfig.h"
#include "core/frame.h"
#include "platform/log.h"
#include "platform/wmi.h"
#include "platform/wql.h"
#include "switches/switch_service.h"

namespace {

constexpr int kExternal = 1;
constexpr int kInternal = 2;
constexpr DWORD kSettle = 10;  // ms the provider is given before its new objects are looked at

// "ERROR: Error Occured: <system text>" for the thread's last error. A code the system has no
// text for prints an empty text.
void PrintLastError() {
  const DWORD error = GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, LANG_USER_DEFAULT,
                 reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::printf("ERROR: %s: %s\n", "Error Occured", text != nullptr ? text : "");
  LocalFree(text);
}

// The object paths the creation carries from step to step.
struct Paths {
  hvc::VariantHolder vswitch;
  hvc::VariantHolder port;  // the external or the new internal Ethernet port
  hvc::VariantHolder endpoint;
  hvc::VariantHolder switchPort;
};

// The __PATH of the first object of `query`. A query that finds nothing ends the creation with 1:
// there is no object to go on with, and the provider reported no failure to quote.
bool PathOfFirst(const std::string& query, hvc::VariantHolder& path) {
  hvc::ComPtr<IWbemClassObject> object;
  if (!hvc::FirstObject(query, object))
    return false;
  hvc::GetProperty(object.Get(), L"__PATH", path);
  return true;
}

class SwitchCreation {
 public:
  SwitchCreation(const char* extPortDeviceID, const char* switchName, int switchType, hvc::GuidName& switchGuid)
      : extPortDeviceID_(extPortDeviceID), switchName_(switchName), switchType_(switchType), switchGuid_(switchGuid) {}

  hvc::StepsEnd Run() {
    if (!service_.Open("Unable to fetch VM's info"))
      return hvc::Failed();
    if (const auto failed = CreateSwitch())
      return *failed;
    if (switchType_ == kExternal) {
      if (const auto failed = BindExternalPort())
        return *failed;
    } else if (switchType_ == kInternal) {
      if (const auto failed = CreateInternalPort())
        return *failed;
    } else {
      return hvc::Done();  // a switch bound to nothing
    }
    if (const auto failed = CreateSwitchPort())
      return *failed;
    return ConnectPorts();
  }

 private:
  using Step = std::optional<hvc::StepsEnd>;  // empty: go on

  Step CreateSwitch() {
    hvc::ComPtr<IWbemClassObject> in;
    if (!service_.Prepare(L"CreateSwitch", in))
      return hvc::Failed();
    switchGuid_ = hvc::NewGuidName();
    hvc::PutText(in.Get(), L"Name", switchGuid_.name, CIM_STRING);
    hvc::PutText(in.Get(), L"FriendlyName", switchName_, CIM_STRING);
    hvc::VariantHolder learnable;
    learnable.Get().vt = VT_I2;
    learnable.Get().iVal = 1234;
    in->Put(L"NumLearnableAddresses", 0, &learnable.Get(), CIM_UINT32);

    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(L"CreateSwitch", in.Get(), out);
    if (FAILED(hr))
      return hvc::MethodNotExecuted(hr);
    // Whether the switch exists is decided by looking for it, not by what the call reported.
    static_cast<void>(hvc::ReturnValueOf(out.Get()));

    hvc::ComPtr<IWbemClassObject> vswitch;
    if (!hvc::FirstObject(hvc::wql::Quoted(hvc::wql::kSwitchByName, switchGuid_.name), vswitch, kSettle)) {
      hvc::LogMsg("CreateSwitch Method Failed");
      return hvc::Failed();
    }
    hvc::GetProperty(vswitch.Get(), L"__PATH", paths_.vswitch);
    return {};
  }

  Step BindExternalPort() {
    hvc::ComPtr<IWbemClassObject> port;
    if (!hvc::FirstObject(hvc::wql::Quoted(hvc::wql::kExternalPortByDeviceId, extPortDeviceID_), port)) {
      hvc::LogMsg("Not able to find external port %s. Please ensure GUID is exact including curly brackets, if any.",
                  extPortDeviceID_);
      return hvc::Failed();
    }
    hvc::ComPtr<IWbemClassObject> in;
    if (!service_.Prepare(L"BindExternalEthernetPort", in))
      return hvc::Failed();
    hvc::GetProperty(port.Get(), L"__PATH", paths_.port);
    hvc::PutPath(in.Get(), L"ExternalEthernetPort", paths_.port.Get());

    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(L"BindExternalEthernetPort", in.Get(), out);
    if (FAILED(hr)) {
      PrintLastError();
      return hvc::FailedAndClose();
    }
    if (hvc::ReturnValueOf(out.Get()) != 0) {
      hvc::LogMsg("Bind to Ethernet Port failed");
      return hvc::StepsEnd{1, hvc::StepsEnd::Then::removeSwitch};
    }
    Sleep(kSettle);
    return {};
  }

  Step CreateInternalPort() {
    hvc::ComPtr<IWbemClassObject> in;
    if (!service_.Prepare(L"CreateInternalEthernetPortDynamicMac", in))
      return hvc::Failed();
    hvc::PutWideText(in.Get(), L"Name", switchGuid_.braced, CIM_STRING);
    hvc::PutText(in.Get(), L"FriendlyName", switchName_, CIM_STRING);
    if (const auto failed = CallJudged(L"CreateInternalEthernetPortDynamicMac", in.Get(),
                                       "Bind to Internal Ethernet Port failed", false))
      return failed;
    if (!PathOfFirst(hvc::wql::Quoted(hvc::wql::kInternalPortByElementName, switchName_), paths_.port))
      return hvc::Failed();
    return {};
  }

  Step CreateSwitchPort() {
    hvc::ComPtr<IWbemClassObject> in;
    if (!service_.Prepare(L"CreateSwitchPort", in))
      return hvc::Failed();
    hvc::PutPath(in.Get(), L"VirtualSwitch", paths_.vswitch.Get());
    hvc::PutText(in.Get(), L"FriendlyName", switchName_, CIM_STRING);
    const hvc::GuidName portName = hvc::NewGuidName();
    hvc::PutText(in.Get(), L"Name", portName.name, CIM_STRING);
    hvc::PutText(in.Get(), L"ScopeOfResidence", "", CIM_STRING);
    return CallJudged(L"CreateSwitchPort", in.Get(), "CreateSwitchPort method failed %d", true);
  }

  hvc::StepsEnd ConnectPorts() {
    char portPath[1024];
    hvc::CopyToNarrow(portPath, sizeof portPath, paths_.port.Get());
    if (!PathOfFirst(hvc::wql::AssociatorsOf(portPath, hvc::wql::kResultLanEndpoint), paths_.endpoint))
      return hvc::Failed();
    // The first port with this display name, whichever switch it belongs to.
    if (!PathOfFirst(hvc::wql::Quoted(hvc::wql::kSwitchPortByElementName, switchName_), paths_.switchPort))
      return hvc::Failed();

    hvc::ComPtr<IWbemClassObject> in;
    if (!service_.Prepare(L"ConnectSwitchPort", in))
      return hvc::Failed();
    hvc::PutPath(in.Get(), L"LANEndpoint", paths_.endpoint.Get());
    hvc::PutPath(in.Get(), L"SwitchPort", paths_.switchPort.Get());
    if (const auto failed = CallJudged(L"ConnectSwitchPort", in.Get(), "ConnectSwitchPort method failed %d", true))
      return *failed;
    return hvc::Done();
  }

  // Calls a method whose ReturnValue decides: any value but 0, a started job included, fails
  // with `refusedLog` and the connection closed. `logValue`: the format takes the value, as a
  // signed 16-bit number.
  Step CallJudged(const wchar_t* method, IWbemClassObject* in, const char* refusedLog, bool logValue) {
    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(method, in, out);
    if (FAILED(hr))
      return hvc::MethodNotExecuted(hr);
    const unsigned short returned = hvc::ReturnValueOf(out.Get());
    if (returned != 0) {
      if (logValue)
        hvc::LogMsg(refusedLog, hvc::AsSigned16(returned));
      else
        hvc::LogMsg(refusedLog);
      return hvc::FailedAndClose();
    }
    return {};
  }

  const char* extPortDeviceID_;
  const char* switchName_;
  int switchType_;
  hvc::GuidName& switchGuid_;
  hvc::SwitchService service_;
  Paths paths_;
};

}  // namespace

int HypervConfig::CreateVSwitch(char* extPortDeviceID, char* switchName, int switchType) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [=, this] { return CreateVirtNetwork(extPortDeviceID, switchName, switchType); });
}

int HypervConfig::CreateVirtNetwork(char* extPortDeviceID, char* switchName, int switchType) {
  hvc::GuidName switchGuid{};
  // Every object of the creation is released before the connection is closed or the switch removed.
  const hvc::StepsEnd end = SwitchCreation(extPortDeviceID, switchName, switchType, switchGuid).Run();
  switch (end.then) {
    case hvc::StepsEnd::Then::closeConnection:
      closeWMIReferences();
      break;
    case hvc::StepsEnd::Then::removeSwitch:
      // The undo's own result does not matter: the creation has failed either way.
      RemovePrivateSwitch(switchGuid.name);
      break;
    case hvc::StepsEnd::Then::keep:
      break;
  }
  return end.result;
}
