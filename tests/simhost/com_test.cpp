// The simulated host through the WMI client interfaces, as a WMI client uses them.
#include <gtest/gtest.h>

#include <windows.h>
#include <wbemidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "com_fixture.hpp"

namespace {

using namespace simhost::test;

TEST_F(Facade, ConnectServerKnowsOnlyTheVirtualizationNamespace) {
  const struct {
    const wchar_t* ns;
    HRESULT expected;
  } cases[] = {{L"ROOT\\VIRTUALIZATION", S_OK},
               {L"\\\\.\\root\\virtualization", S_OK},
               {L"root\\cimv2", static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)},
               {L"root\\virtualization\\v2", static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)}};
  for (const auto& c : cases) {
    Ref<IWbemServices> services;
    Bstr ns(c.ns);
    EXPECT_EQ(locator_->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services), c.expected)
        << c.ns;
    EXPECT_EQ(services.p == nullptr, FAILED(c.expected));
  }
}

TEST_F(Facade, GetUsesTheAutomationTypesOfWmi) {
  std::vector<IWbemClassObject*> ports;
  ASSERT_EQ(Query(L"SELECT * FROM Msvm_ExternalEthernetPort", ports), S_OK);
  ASSERT_FALSE(ports.empty());
  const struct {
    const wchar_t* property;
    VARTYPE vt;
    CIMTYPE type;
  } cases[] = {{L"ActiveMaximumTransmissionUnit", VT_BSTR, CIM_UINT64},
               {L"HealthState", VT_I4, CIM_UINT16},
               {L"IsBound", VT_BOOL, CIM_BOOLEAN},
               {L"DeviceID", VT_BSTR, CIM_STRING},
               {L"__PATH", VT_BSTR, CIM_STRING},
               {L"__GENUS", VT_I4, CIM_SINT32},
               {L"__DERIVATION", VT_ARRAY | VT_BSTR, CIM_STRING | CIM_FLAG_ARRAY}};
  for (const auto& c : cases) {
    Var value;
    CIMTYPE type = -1;
    ASSERT_EQ(ports[0]->Get(c.property, 0, &value, &type, nullptr), S_OK) << c.property;
    EXPECT_EQ(value.v.vt, c.vt) << c.property;
    EXPECT_EQ(type, c.type) << c.property;
  }
  Var missing;
  EXPECT_EQ(ports[0]->Get(L"NoSuchProperty", 0, &missing, nullptr, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(Text(ports[0], L"activemaximumtransmissionunit"), L"1500");  // names ignore case
  for (IWbemClassObject* o : ports)
    o->Release();
}

TEST_F(Facade, PutConvertsToThePropertyType) {
  Ref<IWbemClassObject> in;
  ASSERT_NO_FATAL_FAILURE(InParams(L"Msvm_ComputerSystem", L"RequestStateChange", in));
  Var two(L"2"), word(L"two");
  EXPECT_EQ(in->Put(L"RequestedState", 0, &two, CIM_UINT16), S_OK);
  EXPECT_EQ(in->Put(L"RequestedState", 0, &word, 0), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(in->Put(L"NoSuchParameter", 0, &two, 0), WBEM_E_NOT_FOUND);
  EXPECT_EQ(in->Put(L"__CLASS", 0, &two, 0), WBEM_E_READ_ONLY);
}

TEST_F(Facade, ExecMethodRefusesBadTargetsMethodsAndParameters) {
  const std::wstring service = FirstPath(L"Select * from Msvm_VirtualSwitchManagementService");
  const struct {
    const char* what;
    std::wstring target;
    const wchar_t* method;
    const wchar_t* parameter;
    const wchar_t* value;
    long expected;
  } cases[] = {
      {"unknown method", service, L"Explode", nullptr, nullptr, static_cast<HRESULT>(WBEM_E_INVALID_METHOD)},
      {"no such instance", L"Msvm_ComputerSystem.CreationClassName=\"Msvm_ComputerSystem\",Name=\"NONE\"",
       L"RequestStateChange", L"RequestedState", L"2", static_cast<HRESULT>(WBEM_E_NOT_FOUND)},
      {"malformed path", L"Msvm_ComputerSystem.Name=\"", L"RequestStateChange", nullptr, nullptr,
       static_cast<HRESULT>(WBEM_E_INVALID_OBJECT_PATH)},
      {"dangling reference", service, L"DeleteSwitch", L"VirtualSwitch",
       L"Msvm_VirtualSwitch.CreationClassName=\"Msvm_VirtualSwitch\",Name=\"NONE\"", 32773},
  };
  for (const auto& c : cases) {
    Ref<IWbemClassObject> in;
    if (c.parameter != nullptr) {
      ASSERT_NO_FATAL_FAILURE(InParams(
          c.method == std::wstring(L"DeleteSwitch") ? L"Msvm_VirtualSwitchManagementService" : L"Msvm_ComputerSystem",
          c.method, in));
      PutText(in, c.parameter, c.value, 0);
    }
    Ref<IWbemClassObject> out;
    Bstr target(c.target.c_str());
    Bstr method(c.method);
    const HRESULT hr = services_->ExecMethod(target, method, 0, nullptr, in, &out, nullptr);
    if (FAILED(c.expected)) {
      EXPECT_EQ(hr, c.expected) << c.what;
      EXPECT_EQ(out.p, nullptr) << c.what;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.what;
    Var rv;
    out->Get(L"ReturnValue", 0, &rv, nullptr, nullptr);
    EXPECT_EQ(rv.v.lVal, c.expected) << c.what;
  }
}

TEST_F(Facade, GetTextRendersCimXmlThatReadsBack) {
  std::vector<IWbemClassObject*> adapters;
  ASSERT_EQ(
      Query(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData where InstanceID like 'Microsoft:4A1D%'", adapters),
      S_OK);
  ASSERT_FALSE(adapters.empty());
  Ref<IWbemContext> context;
  ASSERT_EQ(CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemContext,
                             reinterpret_cast<void**>(&context)),
            S_OK);
  Var yes(true);
  context->SetValue(L"IncludeQualifiers", 0, &yes);
  Ref<IWbemObjectTextSrc> source;
  ASSERT_EQ(CoCreateInstance(CLSID_WbemObjectTextSrc, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemObjectTextSrc,
                             reinterpret_cast<void**>(&source)),
            S_OK);
  BSTR text = nullptr;
  ASSERT_EQ(source->GetText(0, adapters[0], WMI_OBJ_TEXT_CIM_DTD_2_0, context, &text), S_OK);
  const std::wstring xml(text);
  EXPECT_EQ(xml.rfind(L"<INSTANCE CLASSNAME=\"Msvm_SyntheticEthernetPortSettingData\"", 0), 0u);
  EXPECT_NE(xml.find(L"CLASSORIGIN=\"___SYSTEM\""), std::wstring::npos);

  Ref<IWbemClassObject> copy;
  ASSERT_EQ(source->CreateFromText(0, text, WMI_OBJ_TEXT_CIM_DTD_2_0, nullptr, &copy), S_OK);
  SysFreeString(text);
  for (const wchar_t* property : {L"InstanceID", L"Address", L"ElementName"})
    EXPECT_EQ(Text(copy, property), Text(adapters[0], property)) << property;
  for (IWbemClassObject* o : adapters)
    o->Release();
}

// WMI promises no order: creation order by default, and the host file can reverse or shuffle it.
TEST_F(Facade, ResultsComeInTheHostsOrder) {
  auto paths = [&] {
    std::vector<IWbemClassObject*> objects;
    EXPECT_EQ(Query(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData", objects), S_OK);
    std::vector<std::wstring> out;
    for (IWbemClassObject* o : objects) {
      out.push_back(Text(o, L"__PATH"));
      o->Release();
    }
    return out;
  };
  using simhost::provider::ResultOrder;
  auto description = simhost::provider::default_host_description();
  const std::vector<std::wstring> creation = paths();
  ASSERT_GT(creation.size(), 3u);
  description.behaviour.result_order = {ResultOrder::Kind::reversed, 0};
  Install(description);
  EXPECT_EQ(paths(), std::vector<std::wstring>(creation.rbegin(), creation.rend()));
  description.behaviour.result_order = {ResultOrder::Kind::shuffled, 7};
  Install(description);
  const std::vector<std::wstring> shuffled = paths();
  EXPECT_EQ(paths(), shuffled);  // the same query on the same host: the same order
  EXPECT_NE(shuffled, creation);
  EXPECT_TRUE(std::is_permutation(shuffled.begin(), shuffled.end(), creation.begin(), creation.end()));
}

}  // namespace
