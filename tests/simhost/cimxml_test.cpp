#include "simhost/cimxml/cimxml.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace simhost::cimxml {
namespace {

using cim::CimType;
using cim::Value;

std::vector<Value> values_of(const cim::ClassDef& cls, const cim::PropertyList& set) {
  std::vector<Value> out;
  for (const auto& decl : cls.properties())
    out.push_back(Value::null(decl.type.type, decl.type.array));
  for (const auto& [name, v] : set)
    out[*cls.property_index(name)] = v;
  return out;
}

const cim::PropertyList kAdapter{
    {L"InstanceID", Value::string(L"Microsoft:VM1\\{6A2C}")},
    {L"ElementName", Value::string(L"A & B <x> \"q\"\x01\tend\r\n")},
    {L"Description", Value::string(L"Netzwerkkarte \u00e4\u20ac")},
    {L"Address", Value::string(L"00155D010203")},
    {L"Connection", Value::string_array({L""})},
    {L"VirtualSystemIdentifiers", Value::string_array({L"{A}", L"{B}"})},
    {L"ResourceType", Value::uint16(10)},
    {L"VirtualQuantity", Value::uint64(18446744073709551615ULL)},
    {L"StaticMacAddress", Value::boolean(true)},
    {L"AutomaticAllocation", Value::boolean(false)},
};

std::wstring render_adapter(RenderOptions options = {}) {
  const auto& cls = *cim::virtualization_schema().find(L"Msvm_SyntheticEthernetPortSettingData");
  static const auto values = values_of(cls, kAdapter);
  InstanceView view{&cls, &values, {{L"__CLASS", Value::string(cls.name())}, {L"__GENUS", Value::sint32(2)}}};
  return render_instance(view, options);
}

TEST(CimXmlRender, AssociationWithSystemPropertiesInWindowsOrder) {
  const auto& cls = *cim::virtualization_schema().find(L"Msvm_SettingsDefineState");
  const auto values = values_of(
      cls, {{L"ManagedElement", Value::reference(L"\\\\HOST\\root\\virtualization:Msvm_ComputerSystem."
                                                 L"CreationClassName=\"Msvm_ComputerSystem\",Name=\"VM1\"")},
            {L"SettingData", Value::reference(L"Msvm_VirtualSystemSettingData.InstanceID=\"Microsoft:a\\\\b\"")}});
  InstanceView view{&cls,
                    &values,
                    {{L"__GENUS", Value::sint32(2)},
                     {L"__CLASS", Value::string(cls.name())},
                     {L"__DERIVATION", Value::string_array({L"CIM_SettingsDefineState"})},
                     {L"__PATH", Value::null(CimType::String)}}};
  EXPECT_EQ(render_instance(view, {}),
            L"<INSTANCE CLASSNAME=\"Msvm_SettingsDefineState\">"
            L"<PROPERTY NAME=\"__PATH\" CLASSORIGIN=\"___SYSTEM\" TYPE=\"string\"></PROPERTY>"
            L"<PROPERTY.ARRAY NAME=\"__DERIVATION\" CLASSORIGIN=\"___SYSTEM\" TYPE=\"string\"><VALUE.ARRAY>"
            L"<VALUE>CIM_SettingsDefineState</VALUE></VALUE.ARRAY></PROPERTY.ARRAY>"
            L"<PROPERTY NAME=\"__CLASS\" CLASSORIGIN=\"___SYSTEM\" TYPE=\"string\">"
            L"<VALUE>Msvm_SettingsDefineState</VALUE></PROPERTY>"
            L"<PROPERTY NAME=\"__GENUS\" CLASSORIGIN=\"___SYSTEM\" TYPE=\"sint32\"><VALUE>2</VALUE></PROPERTY>"
            L"<PROPERTY.REFERENCE NAME=\"ManagedElement\" REFERENCECLASS=\"CIM_ManagedElement\" "
            L"CLASSORIGIN=\"CIM_SettingsDefineState\"><VALUE.REFERENCE><INSTANCEPATH><NAMESPACEPATH><HOST>HOST</HOST>"
            L"<LOCALNAMESPACEPATH><NAMESPACE NAME=\"root\"/><NAMESPACE NAME=\"virtualization\"/>"
            L"</LOCALNAMESPACEPATH></NAMESPACEPATH><INSTANCENAME CLASSNAME=\"Msvm_ComputerSystem\">"
            L"<KEYBINDING NAME=\"CreationClassName\"><KEYVALUE VALUETYPE=\"string\">Msvm_ComputerSystem</KEYVALUE>"
            L"</KEYBINDING><KEYBINDING NAME=\"Name\"><KEYVALUE VALUETYPE=\"string\">VM1</KEYVALUE></KEYBINDING>"
            L"</INSTANCENAME></INSTANCEPATH></VALUE.REFERENCE></PROPERTY.REFERENCE>"
            L"<PROPERTY.REFERENCE NAME=\"SettingData\" REFERENCECLASS=\"CIM_SettingData\" "
            L"CLASSORIGIN=\"CIM_SettingsDefineState\"><VALUE.REFERENCE>"
            L"<INSTANCENAME CLASSNAME=\"Msvm_VirtualSystemSettingData\"><KEYBINDING NAME=\"InstanceID\">"
            L"<KEYVALUE VALUETYPE=\"string\">Microsoft:a\\b</KEYVALUE></KEYBINDING></INSTANCENAME>"
            L"</VALUE.REFERENCE></PROPERTY.REFERENCE></INSTANCE>");
}

TEST(CimXmlRender, PropertiesByNameWithOriginNullsAndEscapes) {
  const std::wstring text = render_adapter();
  const wchar_t* in_order[] = {
      L"<PROPERTY NAME=\"__CLASS\" CLASSORIGIN=\"___SYSTEM\"",
      L"<PROPERTY NAME=\"Address\" CLASSORIGIN=\"CIM_ResourceAllocationSettingData\" TYPE=\"string\">"
      L"<VALUE>00155D010203</VALUE></PROPERTY>",
      L"<PROPERTY NAME=\"AutomaticAllocation\" CLASSORIGIN=\"CIM_ResourceAllocationSettingData\" "
      L"TYPE=\"boolean\"><VALUE>FALSE</VALUE></PROPERTY>",
      L"<PROPERTY NAME=\"Caption\" CLASSORIGIN=\"CIM_ManagedElement\" TYPE=\"string\"></PROPERTY>",
      L"<PROPERTY.ARRAY NAME=\"Connection\" CLASSORIGIN=\"CIM_ResourceAllocationSettingData\" TYPE=\"string\">"
      L"<VALUE.ARRAY><VALUE></VALUE></VALUE.ARRAY></PROPERTY.ARRAY>",
      L"<VALUE>Netzwerkkarte \u00e4\u20ac</VALUE>",
      L"<PROPERTY NAME=\"ElementName\" CLASSORIGIN=\"CIM_ManagedElement\" TYPE=\"string\">"
      L"<VALUE>A &amp; B &lt;x&gt; \"q\"&#x1;\tend&#xD;\n</VALUE></PROPERTY>",
      L"<PROPERTY.ARRAY NAME=\"HostResource\" CLASSORIGIN=\"CIM_ResourceAllocationSettingData\" "
      L"TYPE=\"string\"></PROPERTY.ARRAY>",
      L"<PROPERTY NAME=\"InstanceID\" CLASSORIGIN=\"CIM_SettingData\" TYPE=\"string\">",
      L"<PROPERTY NAME=\"StaticMacAddress\" CLASSORIGIN=\"Msvm_SyntheticEthernetPortSettingData\" "
      L"TYPE=\"boolean\"><VALUE>TRUE</VALUE></PROPERTY>",
      L"TYPE=\"uint64\"><VALUE>18446744073709551615</VALUE>",
  };
  std::size_t at = 0;
  for (const wchar_t* fragment : in_order) {
    const std::size_t found = text.find(fragment, at);
    ASSERT_NE(found, std::wstring::npos) << cim::narrow(fragment) << "\nin\n" << cim::narrow(text);
    at = found;
  }
  EXPECT_EQ(text.find(L"<?xml"), std::wstring::npos);
  EXPECT_EQ(text.find(L"PROPAGATED"), std::wstring::npos);
  EXPECT_EQ(text.find(L"QUALIFIER"), std::wstring::npos);
}

TEST(CimXmlRender, ContextOptionsAndTheRoundTrip) {
  EXPECT_EQ(render_adapter({false, true}).find(L"___SYSTEM"), std::wstring::npos);
  const std::wstring q = render_adapter({true, false});
  EXPECT_NE(q.find(L"<PROPERTY NAME=\"InstanceID\" CLASSORIGIN=\"CIM_SettingData\" TYPE=\"string\">"
                   L"<QUALIFIER NAME=\"CIMTYPE\" TYPE=\"string\" PROPAGATED=\"true\" TOINSTANCE=\"true\">"
                   L"<VALUE>string</VALUE></QUALIFIER><QUALIFIER NAME=\"key\" TYPE=\"boolean\" "
                   L"PROPAGATED=\"true\" OVERRIDABLE=\"false\"><VALUE>TRUE</VALUE></QUALIFIER><VALUE>"),
            std::wstring::npos)
      << cim::narrow(q);
  // What was rendered parses back, qualifiers or not.
  const auto parsed = parse_instance(render_adapter(), cim::virtualization_schema());
  ASSERT_TRUE(parsed) << cim::narrow(parsed.error());
  EXPECT_EQ(parse_instance(q, cim::virtualization_schema())->properties, parsed->properties);
  EXPECT_EQ(parsed->class_name, L"Msvm_SyntheticEthernetPortSettingData");
  const auto& cls = *cim::virtualization_schema().find(parsed->class_name);
  ASSERT_EQ(parsed->properties.size(), cls.properties().size()) << "system properties must be left out";
  const auto expected = values_of(cls, kAdapter);
  for (const auto& [name, v] : parsed->properties)
    EXPECT_EQ(v, expected[*cls.property_index(name)]) << cim::narrow(name);
}

TEST(CimXmlRoundTrip, EveryTypeAndRedeclaredOrigin) {
  cim::Schema schema;
  schema.add({L"T_Base",
              L"",
              {{L"Id", {CimType::String, false, {}}, true, {}}, {L"R", {CimType::Real32, false, {}}, false, {}}}});
  std::vector<cim::PropertyDecl> own;
  const std::pair<const wchar_t*, CimType> scalars[] = {
      {L"R", CimType::Real32}, {L"D", CimType::Real64},   {L"S8", CimType::SInt8},      {L"S64", CimType::SInt64},
      {L"C", CimType::Char16}, {L"T", CimType::DateTime}, {L"Ref", CimType::Reference},
  };
  for (const auto& [name, type] : scalars)
    own.push_back({name, {type, false, type == CimType::Reference ? L"T_Base" : L""}, false, {}});
  own.push_back({L"U8s", {CimType::UInt8, true, {}}, false, {}});
  const auto& cls = schema.add({L"T_All", L"T_Base", own});

  const auto values = values_of(cls, {{L"Id", Value::string(L"x")},
                                      {L"R", Value::real32(0.1f)},
                                      {L"D", Value::real64(-2.5e-300)},
                                      {L"S8", Value::sint8(-128)},
                                      {L"S64", Value::sint64(INT64_MIN)},
                                      {L"C", Value::char16(u'<')},
                                      {L"T", Value::datetime(L"20240131235959.000000-480")},
                                      {L"Ref", Value::reference(L"root\\x:T_Base.Id=\"a\\\"b\"")},
                                      {L"U8s", Value::array(CimType::UInt8, {std::uint64_t{0}, std::uint64_t{255}})}});
  const std::wstring text = render_instance({&cls, &values, {}}, {});
  EXPECT_NE(text.find(L"<PROPERTY NAME=\"R\" CLASSORIGIN=\"T_Base\" TYPE=\"real32\"><VALUE>0.1</VALUE>"),
            std::wstring::npos)
      << cim::narrow(text);
  EXPECT_NE(text.find(L"<LOCALINSTANCEPATH>"), std::wstring::npos);
  const auto parsed = parse_instance(text, schema);
  ASSERT_TRUE(parsed) << cim::narrow(parsed.error());
  for (const auto& [name, v] : parsed->properties)
    EXPECT_EQ(v, values[*cls.property_index(name)]) << cim::narrow(name);
}

// Laid out exactly as the Windows Server 2012 text source writes an instance (attribute order,
// PROPAGATED on defaults, empty arrays, system properties, no declaration), then the same
// content pretty-printed with qualifiers, EmbeddedObject and a structured reference.
TEST(CimXmlParse, WindowsWrittenText) {
  const std::wstring windows =
      LR"(<INSTANCE CLASSNAME="Msvm_SyntheticEthernetPortSettingData"><PROPERTY NAME="__PATH" CLASSORIGIN="___SYSTEM" TYPE="string"></PROPERTY><PROPERTY NAME="__NAMESPACE" CLASSORIGIN="___SYSTEM" TYPE="string"><VALUE>root\virtualization</VALUE></PROPERTY><PROPERTY.ARRAY NAME="__DERIVATION" CLASSORIGIN="___SYSTEM" TYPE="string"><VALUE.ARRAY><VALUE>CIM_ResourceAllocationSettingData</VALUE><VALUE>CIM_SettingData</VALUE><VALUE>CIM_ManagedElement</VALUE></VALUE.ARRAY></PROPERTY.ARRAY><PROPERTY NAME="__PROPERTY_COUNT" CLASSORIGIN="___SYSTEM" TYPE="sint32"><VALUE>23</VALUE></PROPERTY><PROPERTY NAME="__GENUS" CLASSORIGIN="___SYSTEM" TYPE="sint32"><VALUE>2</VALUE></PROPERTY><PROPERTY NAME="Address" CLASSORIGIN="CIM_ResourceAllocationSettingData" TYPE="string"><VALUE>00155D8E4A01</VALUE></PROPERTY><PROPERTY NAME="AutomaticAllocation" CLASSORIGIN="CIM_ResourceAllocationSettingData" PROPAGATED="true" TYPE="boolean"><VALUE>TRUE</VALUE></PROPERTY><PROPERTY NAME="Caption" CLASSORIGIN="CIM_ManagedElement" PROPAGATED="true" TYPE="string"></PROPERTY><PROPERTY.ARRAY NAME="Connection" CLASSORIGIN="CIM_ResourceAllocationSettingData" TYPE="string"><VALUE.ARRAY><VALUE>\\SRV\root\virtualization:Msvm_SwitchPort.CreationClassName="Msvm_SwitchPort",Name="3b9b",SystemCreationClassName="Msvm_VirtualSwitch",SystemName="9a3e"</VALUE></VALUE.ARRAY></PROPERTY.ARRAY><PROPERTY NAME="ElementName" CLASSORIGIN="CIM_ManagedElement" TYPE="string"><VALUE>Network Adapter</VALUE></PROPERTY><PROPERTY.ARRAY NAME="HostResource" CLASSORIGIN="CIM_ResourceAllocationSettingData" TYPE="string"></PROPERTY.ARRAY><PROPERTY NAME="InstanceID" CLASSORIGIN="CIM_SettingData" TYPE="string"><VALUE>Microsoft:5A2F\C1D8</VALUE></PROPERTY><PROPERTY NAME="ResourceType" CLASSORIGIN="CIM_ResourceAllocationSettingData" TYPE="uint16"><VALUE>10</VALUE></PROPERTY><PROPERTY NAME="StaticMacAddress" CLASSORIGIN="Msvm_SyntheticEthernetPortSettingData" TYPE="boolean"><VALUE>FALSE</VALUE></PROPERTY><PROPERTY NAME="VirtualQuantity" CLASSORIGIN="CIM_ResourceAllocationSettingData" TYPE="uint64"><VALUE>1</VALUE></PROPERTY></INSTANCE>)";
  const auto parsed = parse_instance(windows, cim::virtualization_schema());
  ASSERT_TRUE(parsed) << cim::narrow(parsed.error());
  const cim::PropertyList expected{
      {L"Address", Value::string(L"00155D8E4A01")},
      {L"AutomaticAllocation", Value::boolean(true)},
      {L"Caption", Value::null(CimType::String)},
      {L"Connection", Value::string_array({L"\\\\SRV\\root\\virtualization:Msvm_SwitchPort.CreationClassName="
                                           L"\"Msvm_SwitchPort\",Name=\"3b9b\",SystemCreationClassName="
                                           L"\"Msvm_VirtualSwitch\",SystemName=\"9a3e\""})},
      {L"ElementName", Value::string(L"Network Adapter")},
      {L"HostResource", Value::null(CimType::String, true)},
      {L"InstanceID", Value::string(L"Microsoft:5A2F\\C1D8")},
      {L"ResourceType", Value::uint16(10)},
      {L"StaticMacAddress", Value::boolean(false)},
      {L"VirtualQuantity", Value::uint64(1)},
  };
  EXPECT_EQ(parsed->properties, expected);

  const std::wstring pretty =
      LR"(<?xml version="1.0" encoding="utf-16"?>
<!-- as a client hands it in -->
<INSTANCE CLASSNAME='Msvm_ActiveConnection'>
  <QUALIFIER NAME="Association" TYPE="boolean" TOSUBCLASS="false"><VALUE>TRUE</VALUE></QUALIFIER>
  <PROPERTY.REFERENCE NAME="Antecedent" REFERENCECLASS="CIM_ManagedElement" CLASSORIGIN="CIM_Dependency" PROPAGATED="true">
    <QUALIFIER NAME="key" TYPE="boolean" OVERRIDABLE="false"><VALUE>true</VALUE></QUALIFIER>
    <VALUE.REFERENCE>
      <INSTANCEPATH>
        <NAMESPACEPATH><HOST>SRV</HOST>
          <LOCALNAMESPACEPATH><NAMESPACE NAME="root"/><NAMESPACE NAME="virtualization"/></LOCALNAMESPACEPATH>
        </NAMESPACEPATH>
        <INSTANCENAME CLASSNAME="Msvm_SwitchPort">
          <KEYBINDING NAME="SystemName"><KEYVALUE VALUETYPE="string">9a3e</KEYVALUE></KEYBINDING>
          <KEYBINDING NAME="Name"><KEYVALUE>3b9b</KEYVALUE></KEYBINDING>
        </INSTANCENAME>
      </INSTANCEPATH>
    </VALUE.REFERENCE>
  </PROPERTY.REFERENCE>
  <PROPERTY.REFERENCE NAME="Dependent"><VALUE.REFERENCE> Msvm_VmLANEndpoint.Name="x" </VALUE.REFERENCE></PROPERTY.REFERENCE>
  <PROPERTY NAME="OtherTrafficDescription" TYPE="string" EmbeddedObject="object"><VALUE><![CDATA[<INSTANCE CLASSNAME="Y"/>]]></VALUE></PROPERTY>
  <PROPERTY NAME="TrafficType"><VALUE> 2 </VALUE></PROPERTY>
  <PROPERTY NAME="IsUnidirectional"><VALUE>false</VALUE></PROPERTY>
</INSTANCE>
)";
  const auto assoc = parse_instance(pretty, cim::virtualization_schema());
  ASSERT_TRUE(assoc) << cim::narrow(assoc.error());
  const cim::PropertyList assoc_expected{
      {L"Antecedent",
       Value::reference(L"\\\\SRV\\root\\virtualization:Msvm_SwitchPort.Name=\"3b9b\",SystemName=\"9a3e\"")},
      {L"Dependent", Value::reference(L"Msvm_VmLANEndpoint.Name=\"x\"")},
      {L"OtherTrafficDescription", Value::string(L"<INSTANCE CLASSNAME=\"Y\"/>")},
      {L"TrafficType", Value::uint16(2)},
      {L"IsUnidirectional", Value::boolean(false)},
  };
  EXPECT_EQ(assoc->properties, assoc_expected);
}

TEST(CimXmlParse, ReferencesAndUnknownClasses) {
  const std::uint32_t smiley = 0x1F600;
  const std::wstring expected_smiley = sizeof(wchar_t) == 2
                                           ? std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}
                                           : std::wstring(1, static_cast<wchar_t>(smiley));
  const auto parsed = parse_instance(
      L"<INSTANCE CLASSNAME=\"Vendor_Thing\"><PROPERTY NAME=\"S\" TYPE=\"string\"><VALUE>&#x1F600;&#65;&apos;"
      L"\u00e9</VALUE></PROPERTY><PROPERTY.ARRAY NAME=\"E\" TYPE=\"sint32\"><VALUE.ARRAY/></PROPERTY.ARRAY>"
      L"</INSTANCE>",
      cim::virtualization_schema());
  ASSERT_TRUE(parsed) << cim::narrow(parsed.error());
  EXPECT_EQ(parsed->class_name, L"Vendor_Thing");
  EXPECT_EQ(parsed->properties, (cim::PropertyList{{L"S", Value::string(expected_smiley + L"A'\u00e9")},
                                                   {L"E", Value::array(CimType::SInt32, {})}}));
}

#define P(body) L"<INSTANCE CLASSNAME=\"Msvm_SyntheticEthernetPortSettingData\">" body L"</INSTANCE>"
TEST(CimXmlRejects, WithAnErrorThatNamesTheCulprit) {
  const struct {
    const char* label;
    const wchar_t* text;
    const wchar_t* names;  // must appear in the error
  } cases[] = {
      {"out_of_range", P(L"<PROPERTY NAME=\"ResourceType\" TYPE=\"uint16\"><VALUE>70000</VALUE></PROPERTY>"),
       L"ResourceType"},
      {"not_a_number", P(L"<PROPERTY NAME=\"ResourceType\"><VALUE>ten</VALUE></PROPERTY>"), L"ResourceType"},
      {"bad_boolean", P(L"<PROPERTY NAME=\"StaticMacAddress\" TYPE=\"boolean\"><VALUE>yes</VALUE></PROPERTY>"),
       L"StaticMacAddress"},
      {"bad_datetime", P(L"<PROPERTY NAME=\"T\" TYPE=\"datetime\"><VALUE>2024</VALUE></PROPERTY>"), L"T:"},
      {"bad_reference",
       P(L"<PROPERTY.REFERENCE NAME=\"Ref\"><VALUE.REFERENCE>a\"b</VALUE.REFERENCE></PROPERTY.REFERENCE>"), L"Ref"},
      {"null_in_array",
       P(L"<PROPERTY.ARRAY NAME=\"Connection\"><VALUE.ARRAY><VALUE.NULL/></VALUE.ARRAY></PROPERTY.ARRAY>"),
       L"Connection"},
      {"two_values", P(L"<PROPERTY NAME=\"Address\"><VALUE>a</VALUE><VALUE>b</VALUE></PROPERTY>"), L"Address"},
      {"unknown_type", P(L"<PROPERTY NAME=\"Address\" TYPE=\"text\"><VALUE>a</VALUE></PROPERTY>"), L"Address"},
      {"no_type_unknown", P(L"<PROPERTY NAME=\"Colour\"><VALUE>a</VALUE></PROPERTY>"), L"Colour"},
      {"duplicate", P(L"<PROPERTY NAME=\"Address\"/><PROPERTY NAME=\"address\"/>"), L"address"},
      {"unknown_element", P(L"<PROPERTY.OBJECT NAME=\"X\"/>"), L"PROPERTY.OBJECT"},
      {"text_in_instance", P(L"stray"), L"INSTANCE"},
      {"no_name", P(L"<PROPERTY TYPE=\"string\"/>"), L"NAME"},
      {"no_classname", L"<INSTANCE></INSTANCE>", L"CLASSNAME"},
      {"wrong_root", L"<CLASS NAME=\"X\"/>", L"CLASS"},
      {"mismatched_tag", P(L"<PROPERTY NAME=\"A\"></PROPERTY.ARRAY>"), L"PROPERTY.ARRAY"},
      {"unclosed", L"<INSTANCE CLASSNAME=\"X\">", L"INSTANCE"},
      {"unknown_entity", P(L"<PROPERTY NAME=\"A\" TYPE=\"string\"><VALUE>&nbsp;</VALUE></PROPERTY>"), L"&nbsp;"},
      {"nul_reference", P(L"<PROPERTY NAME=\"A\" TYPE=\"string\"><VALUE>&#0;</VALUE></PROPERTY>"),
       L"invalid character"},
      {"bare_ampersand", P(L"<PROPERTY NAME=\"A\" TYPE=\"string\"><VALUE>a & b</VALUE></PROPERTY>"), L"reference"},
      {"unquoted_attribute", L"<INSTANCE CLASSNAME=X/>", L"quoted"},
      {"duplicate_attribute", L"<INSTANCE CLASSNAME=\"X\" CLASSNAME=\"Y\"/>", L"duplicate attribute"},
      {"after_root", L"<INSTANCE CLASSNAME=\"X\"/><INSTANCE CLASSNAME=\"Y\"/>", L"after the root"},
      {"doctype", L"<!DOCTYPE x><INSTANCE CLASSNAME=\"X\"/>", L"malformed XML"},
      {"empty", L"  ", L"no root element"},
  };
  for (const auto& c : cases) {
    const auto r = parse_instance(c.text, cim::virtualization_schema());
    ASSERT_FALSE(r) << c.label;
    EXPECT_NE(r.error().find(c.names), std::wstring::npos) << c.label << ": " << cim::narrow(r.error());
  }
}
#undef P

}  // namespace
}  // namespace simhost::cimxml
