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
  const hvc::ComPtr<IWbemClassObject> object = hvc::FirstObject(query);
  if (object)
    hvc::GetProperty(object.Get(), L"__PATH", path);
  return static_cast<bool>(object);
}

class SwitchCreation {
 public:
  SwitchCreation(const char* extPortDeviceID, const char* switchName, int switchType, hvc::GuidName& switchGuid)
      : extPortDeviceID_(extPortDeviceID), switchName_(switchName), switchType_(switchType), switchGuid_(switchGuid) {}

  bool Undo() const { return undo_; }

  hvc::SwitchEnding Run() {
    if (!hvc::OpenSwitchService(service_, "Unable to fetch VM's info"))
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
  using Step = std::optional<hvc::SwitchEnding>;  // empty: go on

  Step CreateSwitch() {
    if (!hvc::PrepareSwitchMethod(service_, L"CreateSwitch"))
      return hvc::Failed();
    IWbemClassObject* in = service_.In();
    switchGuid_ = hvc::NewGuidName();
    hvc::PutText(in, L"Name", switchGuid_.name, CIM_STRING);
    hvc::PutText(in, L"FriendlyName", switchName_, CIM_STRING);
    hvc::VariantHolder learnable;
    learnable.Get().vt = VT_I2;
    learnable.Get().iVal = 1234;
    in->Put(L"NumLearnableAddresses", 0, &learnable.Get(), CIM_UINT32);

    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(L"CreateSwitch", out);
    if (FAILED(hr))
      return hvc::MethodNotExecuted(hr);
    // Whether the switch exists is decided by looking for it, not by what the call reported.
    static_cast<void>(hvc::ReturnValueOf(out.Get()));

    const hvc::ComPtr<IWbemClassObject> vswitch =
        hvc::FirstObject(hvc::wql::Quoted(hvc::wql::kSwitchByName, switchGuid_.name), kSettle);
    if (!vswitch) {
      hvc::LogMsg("CreateSwitch Method Failed");
      return hvc::Failed();
    }
    hvc::GetProperty(vswitch.Get(), L"__PATH", paths_.vswitch);
    return {};
  }

  Step BindExternalPort() {
    const hvc::ComPtr<IWbemClassObject> port =
        hvc::FirstObject(hvc::wql::Quoted(hvc::wql::kExternalPortByDeviceId, extPortDeviceID_));
    if (!port) {
      hvc::LogMsg("Not able to find external port %s. Please ensure GUID is exact including curly brackets, if any.",
                  extPortDeviceID_);
      return hvc::Failed();
    }
    if (!hvc::PrepareSwitchMethod(service_, L"BindExternalEthernetPort"))
      return hvc::Failed();
    IWbemClassObject* in = service_.In();
    hvc::GetProperty(port.Get(), L"__PATH", paths_.port);
    hvc::PutPath(in, L"ExternalEthernetPort", paths_.port.Get());

    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(L"BindExternalEthernetPort", out);
    if (FAILED(hr)) {
      PrintLastError();
      return hvc::SwitchEnding{1, hvc::Leave::closed};
    }
    if (hvc::ReturnValueOf(out.Get()) != 0) {
      hvc::LogMsg("Bind to Ethernet Port failed");
      undo_ = true;
      return hvc::Failed();
    }
    Sleep(kSettle);
    return {};
  }

  Step CreateInternalPort() {
    if (!hvc::PrepareSwitchMethod(service_, L"CreateInternalEthernetPortDynamicMac"))
      return hvc::Failed();
    IWbemClassObject* in = service_.In();
    hvc::PutWideText(in, L"Name", switchGuid_.braced, CIM_STRING);
    hvc::PutText(in, L"FriendlyName", switchName_, CIM_STRING);
    if (const auto failed =
            CallJudged(L"CreateInternalEthernetPortDynamicMac", "Bind to Internal Ethernet Port failed", false))
      return failed;
    if (!PathOfFirst(hvc::wql::Quoted(hvc::wql::kInternalPortByElementName, switchName_), paths_.port))
      return hvc::Failed();
    return {};
  }

  Step CreateSwitchPort() {
    if (!hvc::PrepareSwitchMethod(service_, L"CreateSwitchPort"))
      return hvc::Failed();
    IWbemClassObject* in = service_.In();
    hvc::PutPath(in, L"VirtualSwitch", paths_.vswitch.Get());
    hvc::PutText(in, L"FriendlyName", switchName_, CIM_STRING);
    const hvc::GuidName portName = hvc::NewGuidName();
    hvc::PutText(in, L"Name", portName.name, CIM_STRING);
    hvc::PutText(in, L"ScopeOfResidence", "", CIM_STRING);
    return CallJudged(L"CreateSwitchPort", "CreateSwitchPort method failed %d", true);
  }

  hvc::SwitchEnding ConnectPorts() {
    char portPath[1024];
    hvc::CopyCut(portPath, paths_.port.Get());
    if (!PathOfFirst(hvc::wql::AssociatorsOf(portPath, hvc::wql::kResultLanEndpoint), paths_.endpoint))
      return hvc::Failed();
    // The first port with this display name, whichever switch it belongs to.
    if (!PathOfFirst(hvc::wql::Quoted(hvc::wql::kSwitchPortByElementName, switchName_), paths_.switchPort))
      return hvc::Failed();

    if (!hvc::PrepareSwitchMethod(service_, L"ConnectSwitchPort"))
      return hvc::Failed();
    IWbemClassObject* in = service_.In();
    hvc::PutPath(in, L"LANEndpoint", paths_.endpoint.Get());
    hvc::PutPath(in, L"SwitchPort", paths_.switchPort.Get());
    if (const auto failed = CallJudged(L"ConnectSwitchPort", "ConnectSwitchPort method failed %d", true))
      return *failed;
    return hvc::Done();
  }

  // Calls a method whose ReturnValue decides: any value but 0, a started job included, fails
  // with `refusedLog` and the connection closed. `logValue`: the format takes the value, as a
  // signed 16-bit number.
  Step CallJudged(const wchar_t* method, const char* refusedLog, bool logValue) {
    hvc::ComPtr<IWbemClassObject> out;
    const HRESULT hr = service_.Call(method, out);
    if (FAILED(hr))
      return hvc::MethodNotExecuted(hr);
    const unsigned short returned = hvc::ReturnValueOf(out.Get());
    if (returned != 0) {
      if (logValue)
        hvc::LogMsg(refusedLog, hvc::AsSigned16(returned));
      else
        hvc::LogMsg(refusedLog);
      return hvc::SwitchEnding{1, hvc::Leave::closed};
    }
    return {};
  }

  bool undo_ = false;  // the new switch is to be removed again, once the creation's objects are released
  const char* extPortDeviceID_;
  const char* switchName_;
  int switchType_;
  hvc::GuidName& switchGuid_;
  hvc::MethodCall service_;
  Paths paths_;
};

}  // namespace

int HypervConfig::CreateVSwitch(char* extPortDeviceID, char* switchName, int switchType) {
  return hvc::ActingFrame([this] { return OpenWMIReferences(); },
                          [=, this] { return CreateVirtNetwork(extPortDeviceID, switchName, switchType); });
}

int HypervConfig::CreateVirtNetwork(char* extPortDeviceID, char* switchName, int switchType) {
  hvc::GuidName switchGuid{};
  bool undo = false;
  const int result = hvc::EndWorker([&] {
    SwitchCreation creation(extPortDeviceID, switchName, switchType, switchGuid);
    const hvc::SwitchEnding ending = creation.Run();
    undo = creation.Undo();
    return ending;
  });
  // The undo's own result does not matter: the creation has failed either way.
  if (undo)
    RemovePrivateSwitch(switchGuid.name);
  return result;
}
