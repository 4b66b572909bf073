#include "simhost/cim/path.hpp"
#include "simhost/cim/text.hpp"

#include <gtest/gtest.h>

namespace simhost::cim {
namespace {

TEST(ObjectPathTest, BuildsWithSortedKeysAndEscapes) {
  ObjectPath p = make_path(L"HVHOST", L"root\\virtualization", L"Msvm_SwitchPort",
                           {{L"SystemName", L"SW"}, {L"name", L"A\"B\\C"}, {L"CreationClassName", L"Msvm_SwitchPort"}});
  EXPECT_EQ(p.str(),
            L"\\\\HVHOST\\root\\virtualization:Msvm_SwitchPort.CreationClassName=\"Msvm_SwitchPort\","
            L"name=\"A\\\"B\\\\C\",SystemName=\"SW\"");
  EXPECT_EQ(p.relpath(),
            L"Msvm_SwitchPort.CreationClassName=\"Msvm_SwitchPort\",name=\"A\\\"B\\\\C\",SystemName=\"SW\"");
  EXPECT_EQ(make_path(L"", L"", L"C", {{L"K", L"5", false}}).str(), L"C.K=5");
}

TEST(ObjectPathTest, RoundTrips) {
  const wchar_t* texts[] = {
      L"\\\\HVHOST\\root\\virtualization:Msvm_SyntheticEthernetPortSettingData.InstanceID=\"Microsoft:VM\\\\GUID\"",
      L"Msvm_ExternalEthernetPort.CreationClassName=\"X\",DeviceID=\"{A,B=C}\",SystemCreationClassName=\"Y\",SystemName=\"Z\"",
      L"root\\virtualization:Msvm_ConcreteJob.InstanceID=\"\"",
      L"C.Id=-12,On=TRUE",
      L"Single=\"only\"",
      L"Msvm_ComputerSystem",
  };
  for (const wchar_t* text : texts) {
    auto p = ObjectPath::parse(text);
    ASSERT_TRUE(p) << narrow(text);
    EXPECT_EQ(p->str(), text);
  }
  auto p = ObjectPath::parse(texts[0]);
  EXPECT_EQ(p->server, L"HVHOST");
  EXPECT_EQ(p->ns, L"root\\virtualization");
  EXPECT_EQ(p->keys.at(0).value, L"Microsoft:VM\\GUID");
  // Values may be quoted with ' too; they read the same and print with ".
  auto single = ObjectPath::parse(L"C.K='it\\'s \"x\" a\\\\b'");
  ASSERT_TRUE(single);
  EXPECT_EQ(single->keys.at(0).value, L"it's \"x\" a\\b");
  EXPECT_EQ(single->str(), L"C.K=\"it's \\\"x\\\" a\\\\b\"");
  auto slashes = ObjectPath::parse(L"//h/root/virtualization:C.K=\"v\"");
  ASSERT_TRUE(slashes);
  EXPECT_EQ(slashes->ns, L"root\\virtualization");
}

TEST(ObjectPathTest, RejectsMalformedText) {
  const wchar_t* bad[] = {
      L"",
      L"C.",
      L"C.K",
      L"C.K=",
      L"C.K=\"unterminated",
      L"C.K=\"v\"trailing",
      L"C.K=\"bad\\escape\"",
      L"C.K='bad\\escape'",
      L"C.K='mixed\"",
      L"C.K=word",
      L"C.K=\"a\",k=\"b\"",
      L"C K=\"a\"",
      L"9Class.K=1",
      L"\\\\host",
      L"\\\\host\\ns",
      L"\\\\host\\:C.K=1",
      L":C.K=1",
      L"C.K=\"a\",",
      L"C=@",
  };
  for (const wchar_t* text : bad)
    EXPECT_FALSE(ObjectPath::parse(text)) << narrow(text);
}

}  // namespace
}  // namespace simhost::cim
