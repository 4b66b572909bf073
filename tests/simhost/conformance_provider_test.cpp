// The provider's methods, jobs and VM transitions against Microsoft's class reference of the v1
// root\virtualization namespace: one row per behaviour, with the result the reference documents
// and the title of the page that documents it.
#include "simhost/provider/simulated_host.hpp"

#include "simhost/cim/schema.hpp"
#include "simhost/cim/text.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace simhost::provider {
namespace {

using cim::InstanceId;
using cim::Value;

constexpr std::wstring_view kWeb = L"4A1D7E3B-9C52-4F86-A0B3-5E8D2C6F1A97";    // running, shutdown component
constexpr std::wstring_view kBuild = L"7F2C5A9E-1B48-4D63-8E7F-2A0C9D5B3E16";  // running, no shutdown component
constexpr std::wstring_view kSql = L"B5E8A2D7-4C19-4F3B-9D6E-1A7C0F4B8E23";    // off
constexpr std::wstring_view kTest = L"E9B3D6A1-8F24-4C7E-A5D1-7B0E3F9C2A68";   // saved
constexpr std::wstring_view kPrint = L"0C6A4F2D-3E71-4B98-8D5C-A1F7B3E9D024";  // paused

// A fresh default host and the few moves a row makes on it; every result is rendered as text.
class Probe {
 public:
  std::unique_ptr<SimulatedHost> host = SimulatedHost::make_default();

  std::vector<InstanceId> query(const std::wstring& text) {
    auto r = host->query(text);
    return r ? r->instances : std::vector<InstanceId>{};
  }
  std::wstring path(InstanceId id) { return host->repository().path_text(*host->repository().get(id)); }
  std::wstring first(const std::wstring& text) {
    const auto ids = query(text);
    return ids.empty() ? L"" : path(ids.front());
  }
  std::wstring vm(std::wstring_view name) {
    return first(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(name) + L"'");
  }
  std::wstring service(const wchar_t* cls) { return first(std::wstring(L"SELECT * FROM ") + cls); }
  std::wstring switch_path() { return first(L"SELECT * FROM Msvm_VirtualSwitch WHERE ElementName='Internal Network'"); }

  // "ReturnValue=n" and the names of the out-parameters that are set.
  std::wstring call(const std::wstring& target, const wchar_t* method, const cim::PropertyList& in) {
    last_ = host->invoke(target, method, in);
    if (last_.hresult != 0) {
      return L"HRESULT " + std::to_wstring(static_cast<std::uint32_t>(last_.hresult));
    }
    std::wstring text;
    for (const auto& [name, value] : last_.out) {
      text += text.empty() ? name + L"=" + std::to_wstring(*value.as_uint()) : L" " + name;
    }
    return text;
  }
  std::wstring state_change(std::wstring_view name, std::uint16_t to) {
    return call(vm(name), L"RequestStateChange", {{L"RequestedState", Value::uint16(to)}});
  }
  std::wstring shutdown(std::wstring_view name) {
    const auto sc = first(L"SELECT * FROM Msvm_ShutdownComponent WHERE SystemName='" + std::wstring(name) + L"'");
    return call(sc, L"InitiateShutdown", {{L"Force", Value::boolean(true)}, {L"Reason", Value::string(L"test")}});
  }
  std::wstring job() const {
    for (const auto& [name, value] : last_.out) {
      if (cim::iequals(name, L"Job")) {
        return *value.as_string();
      }
    }
    return L"";
  }

  // `times` observations of the VM by a query, each rendered "EnabledState/RequestedState".
  std::wstring watch_vm(std::wstring_view name, int times) {
    std::wstring seen;
    for (int i = 0; i < times; ++i) {
      const auto ids = query(L"SELECT * FROM Msvm_ComputerSystem WHERE Name='" + std::wstring(name) + L"'");
      seen +=
          (seen.empty() ? L"" : L" ") + text(ids.at(0), L"EnabledState") + L"/" + text(ids.at(0), L"RequestedState");
    }
    return seen;
  }
  // `times` observations of the last call's job by GetObject of its path (0 once it is gone).
  std::wstring poll_job(int times) {
    std::wstring seen;
    const auto path_text = job();
    for (int i = 0; i < times; ++i) {
      const auto id = host->repository().find(path_text);
      seen += (seen.empty() ? L"" : L" ") + (id && host->observe(*id) ? text(*id, L"JobState") : L"0");
    }
    return seen;
  }
  std::wstring job_property(const wchar_t* name) {
    const auto id = host->repository().find(job());
    return id ? text(*id, name) : L"";
  }
  std::wstring text(InstanceId id, const wchar_t* name) {
    const auto v = host->repository().property(*host->repository().get(id), name);
    if (v && v->as_uint()) {
      return std::to_wstring(*v->as_uint());
    }
    return v && v->as_string() ? *v->as_string() : L"null";
  }

  // The classes of what a VM is linked to by Msvm_SystemDevice.
  std::wstring devices(std::wstring_view name) {
    std::wstring found;
    for (auto id : query(L"ASSOCIATORS OF {" + vm(name) + L"} WHERE AssocClass=Msvm_SystemDevice")) {
      found += (found.empty() ? L"" : L" ") + text(id, L"__CLASS");
    }
    return found;
  }

  void mode(const wchar_t* method, Completion kind, std::uint32_t ticks, std::uint16_t end = 7,
            std::uint32_t time_before_removal = 300) {
    CompletionMode m;
    m.kind = kind;
    m.ticks = ticks;
    m.end_state = end;
    m.error_code = 32775;
    m.error_description = L"Broken on purpose";
    m.time_before_removal = time_before_removal;
    host->set_completion(method, m);
  }

 private:
  MethodResult last_;
};

// The documented signature as "in: A B; out: C", ReturnValue left out.
std::wstring signature(const wchar_t* cls, const wchar_t* method) {
  const auto* decl = cim::virtualization_schema().find(cls)->method(method);
  std::wstring text = L"in:";
  for (const auto& p : decl->in) {
    text += L" " + p.name;
  }
  text += L"; out:";
  for (const auto& p : decl->out) {
    text += L" " + p.name;
  }
  return text;
}

struct Row {
  const char* behaviour;
  const wchar_t* expected;  // what the documentation gives, rendered as Probe renders it
  const char* source;       // title of the Microsoft documentation page
  std::function<std::wstring(Probe&)> run;
};

std::wstring adapter_text() {
  return L"<INSTANCE CLASSNAME=\"Msvm_SyntheticEthernetPortSettingData\"><PROPERTY NAME=\"ElementName\" "
         L"TYPE=\"string\"><VALUE>Network Adapter</VALUE></PROPERTY></INSTANCE>";
}

std::wstring add_adapter(Probe& p, std::wstring_view vm) {
  return p.call(
      p.service(L"Msvm_VirtualSystemManagementService"), L"AddVirtualSystemResources",
      {{L"TargetSystem", Value::reference(p.vm(vm))}, {L"ResourceSettingData", Value::string_array({adapter_text()})}});
}

std::wstring remove_first_adapter(Probe& p, std::wstring_view vm) {
  const auto adapter =
      p.first(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData WHERE InstanceID LIKE 'Microsoft:" +
              std::wstring(vm) + L"%'");
  return p.call(p.service(L"Msvm_VirtualSystemManagementService"), L"RemoveVirtualSystemResources",
                {{L"TargetSystem", Value::reference(p.vm(vm))},
                 {L"ResourceSettingData", Value::array(cim::CimType::Reference, {adapter})}});
}

#define SWITCH_PAGE(m) m " method of the Msvm_VirtualSwitchManagementService class"
#define SYSTEM_PAGE(m) m " method of the Msvm_VirtualSystemManagementService class"
constexpr const char* kRequestStateChange = "RequestStateChange method of the Msvm_ComputerSystem class";
constexpr const char* kInitiateShutdown = "InitiateShutdown method of the Msvm_ShutdownComponent class";
constexpr const char* kComputerSystem = "Msvm_ComputerSystem class";
constexpr const char* kConcreteJob = "Msvm_ConcreteJob class";

// A state change, then three queries of the VM.
std::function<std::wstring(Probe&)> watched_change(std::wstring_view vm, std::uint16_t to) {
  return [=](Probe& p) {
    p.state_change(vm, to);
    return p.watch_vm(vm, 3);
  };
}

// A state change, then the VM's devices once it has taken it.
std::function<std::wstring(Probe&)> devices_after(std::wstring_view vm, std::uint16_t to) {
  return [=](Probe& p) {
    p.state_change(vm, to);
    p.watch_vm(vm, 3);
    return p.devices(vm);
  };
}

// SQL01 started, then its job polled three times.
std::function<std::wstring(Probe&)> polled_start() {
  return [](Probe& p) {
    p.state_change(kSql, 2);
    return p.poll_job(3);
  };
}

const wchar_t* const kVsms = L"Msvm_VirtualSwitchManagementService";
const wchar_t* const kVsys = L"Msvm_VirtualSystemManagementService";

const Row kRows[] = {
    // Methods without a Job finish or fail.
    {"CreateSwitch finishes at once", L"ReturnValue=0 CreatedVirtualSwitch", SWITCH_PAGE("CreateSwitch"),
     [](Probe& p) {
       return p.call(p.service(kVsms), L"CreateSwitch", {{L"Name", Value::string(L"S")}});
     }},
    {"CreateSwitchPort finishes at once", L"ReturnValue=0 CreatedSwitchPort", SWITCH_PAGE("CreateSwitchPort"),
     [](Probe& p) {
       return p.call(p.service(kVsms), L"CreateSwitchPort",
                     {{L"VirtualSwitch", Value::reference(p.switch_path())}, {L"Name", Value::string(L"P")}});
     }},
    {"DeleteSwitch finishes at once", L"ReturnValue=0", SWITCH_PAGE("DeleteSwitch"),
     [](Probe& p) {
       return p.call(p.service(kVsms), L"DeleteSwitch", {{L"VirtualSwitch", Value::reference(p.switch_path())}});
     }},
    {"DeleteSwitchPort finishes at once", L"ReturnValue=0", SWITCH_PAGE("DeleteSwitchPort"),
     [](Probe& p) {
       return p.call(p.service(kVsms), L"DeleteSwitchPort",
                     {{L"SwitchPort", Value::reference(p.first(L"SELECT * FROM Msvm_SwitchPort"))}});
     }},
    {"a refused CreateSwitch reports its code and no job", L"ReturnValue=32773", SWITCH_PAGE("CreateSwitch"),
     [](Probe& p) { return p.call(p.service(kVsms), L"CreateSwitch", {}); }},
    {"a second switch of one name is refused", L"ReturnValue=32773", SWITCH_PAGE("CreateSwitch"),
     [](Probe& p) {
       p.call(p.service(kVsms), L"CreateSwitch", {{L"Name", Value::string(L"S")}});
       return p.call(p.service(kVsms), L"CreateSwitch", {{L"Name", Value::string(L"s")}});
     }},
    {"a second port of one name is refused", L"ReturnValue=32773", SWITCH_PAGE("CreateSwitchPort"),
     [](Probe& p) {
       const cim::PropertyList in = {{L"VirtualSwitch", Value::reference(p.switch_path())},
                                     {L"Name", Value::string(L"P")}};
       p.call(p.service(kVsms), L"CreateSwitchPort", in);
       return p.call(p.service(kVsms), L"CreateSwitchPort", in);
     }},
    {"a port connected already is in use", L"ReturnValue=32774", SWITCH_PAGE("ConnectSwitchPort"),
     [](Probe& p) {
       const auto port = p.first(L"SELECT * FROM Msvm_SwitchPort WHERE Name='C81E2B7D-54A9-4F3C-B6E0-9A7D1F3E5C22'");
       const auto ep = p.first(L"ASSOCIATORS OF {" + port + L"} WHERE AssocClass=Msvm_ActiveConnection");
       return p.call(p.service(kVsms), L"ConnectSwitchPort",
                     {{L"SwitchPort", Value::reference(port)}, {L"LANEndpoint", Value::reference(ep)}});
     }},
    {"binding a bound port is refused", L"ReturnValue=32775", SWITCH_PAGE("BindExternalEthernetPort"),
     [](Probe& p) {
       const auto nic = p.first(L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound=TRUE");
       return p.call(p.service(kVsms), L"BindExternalEthernetPort", {{L"ExternalEthernetPort", Value::reference(nic)}});
     }},
    {"a deleted switch takes its ports and unbinds its external port", L"ReturnValue=0, bound: 0, ports: 0",
     SWITCH_PAGE("DeleteSwitch"),
     [](Probe& p) {
       const auto sw = p.first(L"SELECT * FROM Msvm_VirtualSwitch WHERE ElementName='External Network'");
       const auto result = p.call(p.service(kVsms), L"DeleteSwitch", {{L"VirtualSwitch", Value::reference(sw)}});
       const auto ports =
           p.query(L"SELECT * FROM Msvm_SwitchPort WHERE SystemName='9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27'");
       return result + L", bound: " +
              std::to_wstring(p.query(L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound=TRUE").size()) +
              L", ports: " + std::to_wstring(ports.size());
     }},

    // Guest shutdown: initiated at once, then the guest stops as time passes.
    {"InitiateShutdown returns 0 without a job", L"ReturnValue=0", kInitiateShutdown,
     [](Probe& p) { return p.shutdown(kWeb); }},
    {"the guest shows Stopping (32774) before it turns off (3)", L"32774/4 32774/4 3/4", kComputerSystem,
     [](Probe& p) {
       p.shutdown(kWeb);
       return p.watch_vm(kWeb, 3);
     }},
    {"InitiateShutdown of a paused guest is refused", L"ReturnValue=32775", kInitiateShutdown,
     [](Probe& p) { return p.shutdown(kPrint); }},

    // State changes run as jobs; the VM shows the change and RequestedState meanwhile.
    {"RequestStateChange starts a job", L"ReturnValue=4096 Job", kRequestStateChange,
     [](Probe& p) { return p.state_change(kSql, 2); }},
    {"starting: Starting (32770), then Enabled (2)", L"32770/2 32770/2 2/2", kRequestStateChange,
     watched_change(kSql, 2)},
    {"turning off: Stopping (32774), then Disabled (3)", L"32774/3 32774/3 3/3", kComputerSystem,
     watched_change(kWeb, 3)},
    {"pausing: Pausing (32776), then Paused (32768)", L"32776/32768 32776/32768 32768/32768", kComputerSystem,
     watched_change(kWeb, 32768)},
    {"saving: Saving (32773), then Suspended (32769)", L"32773/32769 32773/32769 32769/32769", kComputerSystem,
     watched_change(kWeb, 32769)},
    {"resuming: Resuming (32777), then Enabled (2)", L"32777/2 32777/2 2/2", kComputerSystem,
     watched_change(kPrint, 2)},
    {"a change that makes no sense now is refused", L"ReturnValue=32775", kRequestStateChange,
     [](Probe& p) { return p.state_change(kTest, 32768); }},
    {"11 is reserved for future use in v1, so it is no state to ask for", L"ReturnValue=32773", kRequestStateChange,
     [](Probe& p) { return p.state_change(kPrint, 11); }},
    {"a paused VM cannot be reset", L"ReturnValue=32775", kRequestStateChange,
     [](Probe& p) { return p.state_change(kPrint, 10); }},

    // Jobs: each JobState the reference lists, polled by GetObject.
    {"a job runs (4), then completes (7)", L"4 4 7", kConcreteJob, polled_start()},
    {"a job that starts (3) first", L"3 3 7", kConcreteJob,
     [](Probe& p) {
       CompletionMode m;
       m.kind = Completion::job;
       m.running_state = 3;
       p.host->set_completion(L"RequestStateChange", m);
       return polled_start()(p);
     }},
    {"a job ends terminated (8) with its error", L"4 8 32775 Broken on purpose 3", kConcreteJob,
     [](Probe& p) {
       p.mode(L"RequestStateChange", Completion::job, 1, 8);
       p.state_change(kSql, 2);
       auto seen = p.poll_job(2);
       seen += L" " + p.job_property(L"ErrorCode");
       seen += L" " + p.job_property(L"ErrorDescription");
       return seen + L" " + p.watch_vm(kSql, 1).substr(0, 1);
     }},
    {"a job can end killed (9) or in an exception (10), or stay new (2), suspended (5), shutting down (6) or in "
     "service (11)",
     L"9 9 10 10 2 2 5 5 6 6 11 11", kConcreteJob,
     [](Probe& p) {
       std::wstring seen;
       for (std::uint16_t state : {9, 10, 2, 5, 6, 11}) {
         p.host = SimulatedHost::make_default();
         p.mode(L"RequestStateChange", Completion::job, 0, state);
         p.state_change(kSql, 2);
         seen += (seen.empty() ? L"" : L" ") + p.poll_job(2);
       }
       return seen;
     }},
    {"TimeBeforeRemoval is five minutes", L"00000000000500.000000:000", kConcreteJob,
     [](Probe& p) {
       p.state_change(kSql, 2);
       return p.job_property(L"TimeBeforeRemoval");
     }},
    {"an ended job goes after its TimeBeforeRemoval", L"7 7 7 0", kConcreteJob,
     [](Probe& p) {
       p.mode(L"RequestStateChange", Completion::job, 0, 7, 2);
       p.state_change(kSql, 2);
       return p.poll_job(4);
     }},

    // No hot-add or hot-remove of synthetic adapters in v1; an off VM takes both.
    {"adding an adapter to a running VM is refused", L"ReturnValue=32775", SYSTEM_PAGE("AddVirtualSystemResources"),
     [](Probe& p) { return add_adapter(p, kWeb); }},
    {"adding an adapter to a saved VM is refused", L"ReturnValue=32775", SYSTEM_PAGE("AddVirtualSystemResources"),
     [](Probe& p) { return add_adapter(p, kTest); }},
    {"adding an adapter to an off VM", L"ReturnValue=0 NewResources", SYSTEM_PAGE("AddVirtualSystemResources"),
     [](Probe& p) { return add_adapter(p, kSql); }},
    {"adding an adapter as a job", L"ReturnValue=4096 NewResources Job", SYSTEM_PAGE("AddVirtualSystemResources"),
     [](Probe& p) {
       p.mode(L"AddVirtualSystemResources", Completion::job, 1);
       return add_adapter(p, kSql);
     }},
    {"removing an adapter of a running VM is refused", L"ReturnValue=32775",
     SYSTEM_PAGE("RemoveVirtualSystemResources"), [](Probe& p) { return remove_first_adapter(p, kWeb); }},
    {"removing an adapter of an off VM", L"ReturnValue=0", SYSTEM_PAGE("RemoveVirtualSystemResources"),
     [](Probe& p) { return remove_first_adapter(p, kSql); }},

    // Msvm_SystemDevice links a VM to its runtime devices.
    {"a running VM's devices", L"Msvm_SyntheticEthernetPort Msvm_SyntheticEthernetPort Msvm_ShutdownComponent",
     "Msvm_SystemDevice class", [](Probe& p) { return p.devices(kWeb); }},
    {"a running VM without the shutdown service", L"Msvm_SyntheticEthernetPort", "Msvm_SystemDevice class",
     [](Probe& p) { return p.devices(kBuild); }},
    {"an off VM has no runtime devices", L"", "Msvm_SystemDevice class", [](Probe& p) { return p.devices(kSql); }},
    {"paused, a VM keeps its devices", L"Msvm_SyntheticEthernetPort Msvm_SyntheticEthernetPort Msvm_ShutdownComponent",
     "Msvm_SystemDevice class", devices_after(kWeb, 32768)},
    {"started, its devices come", L"Msvm_SyntheticEthernetPort Msvm_SyntheticEthernetPort Msvm_ShutdownComponent",
     "Msvm_SystemDevice class", devices_after(kSql, 2)},
};

// v1 signatures: a Job out-parameter only where the reference page "<method> method of the <class>
// class" gives one.
const struct {
  const wchar_t* cls;
  const wchar_t* method;
  const wchar_t* expected;
} kSignatures[] = {
    {kVsms, L"CreateSwitch",
     L"in: Name FriendlyName NumLearnableAddresses ScopeOfResidence; out: CreatedVirtualSwitch"},
    {kVsms, L"DeleteSwitch", L"in: VirtualSwitch; out:"},
    {kVsms, L"CreateSwitchPort", L"in: VirtualSwitch Name FriendlyName ScopeOfResidence; out: CreatedSwitchPort"},
    {kVsms, L"DeleteSwitchPort", L"in: SwitchPort; out:"},
    {kVsms, L"ConnectSwitchPort", L"in: SwitchPort LANEndpoint; out: ActiveConnection"},
    {kVsms, L"DisconnectSwitchPort", L"in: SwitchPort; out:"},
    {kVsms, L"BindExternalEthernetPort", L"in: ExternalEthernetPort; out:"},
    {kVsms, L"UnbindExternalEthernetPort", L"in: ExternalEthernetPort; out:"},
    {kVsms, L"CreateInternalEthernetPortDynamicMac", L"in: Name FriendlyName; out: CreatedInternalEthernetPort"},
    {kVsms, L"DeleteInternalEthernetPort", L"in: InternalEthernetPort; out:"},
    {kVsys, L"AddVirtualSystemResources", L"in: TargetSystem ResourceSettingData; out: NewResources Job"},
    {kVsys, L"ModifyVirtualSystemResources", L"in: ComputerSystem ResourceSettingData; out: Job"},
    {kVsys, L"RemoveVirtualSystemResources", L"in: TargetSystem ResourceSettingData; out: Job"},
    {L"Msvm_ComputerSystem", L"RequestStateChange", L"in: RequestedState TimeoutPeriod; out: Job"},
    {L"Msvm_ShutdownComponent", L"InitiateShutdown", L"in: Force Reason; out:"},
};

TEST(ProviderConformance, EachMethodHasItsDocumentedSignature) {
  for (const auto& s : kSignatures) {
    EXPECT_EQ(cim::narrow(signature(s.cls, s.method)), cim::narrow(s.expected))
        << cim::narrow(s.method) << " method of the " << cim::narrow(s.cls) << " class";
  }
}

TEST(ProviderConformance, EachRowGivesTheDocumentedResult) {
  for (const Row& row : kRows) {
    Probe probe;
    EXPECT_EQ(cim::narrow(row.run(probe)), cim::narrow(row.expected)) << row.behaviour << " [" << row.source << "]";
  }
}

}  // namespace
}  // namespace simhost::provider
