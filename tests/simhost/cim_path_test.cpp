#include "simhost/cim/compact_text.hpp"
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

// Stored paths are kept one byte a character when they fit; what reads them back must not see
// the difference, at either side of the 8-bit boundary and across the compare's 16-unit rounds.
TEST(CompactTextTest, ReadsBackWhatItKeeps) {
  const std::wstring long_path = L"\\\\H\\root\\virtualization:Msvm_SwitchPort.Name=\"0123456789ABCDEF0123\"";
  const struct {
    std::wstring text;
    std::size_t from;
  } rows[] = {
      {L"", 0},
      {L"short", 2},
      {long_path, 28},
      {L"Caf\u00E9 \u00FF", 0},                         // still one byte each
      {L"\u0100 and \u4E2D\u6587 need wide units", 3},  // past U+00FF
      {std::wstring(40, L'x') + L"\u20AC", 17},
  };
  for (const auto& row : rows) {
    const CompactText kept(row.text);
    EXPECT_EQ(kept.size(), row.text.size());
    EXPECT_EQ(kept.str(), row.text);
    EXPECT_EQ(kept.str(row.from), row.text.substr(row.from));
    EXPECT_TRUE(kept == row.text);
    if (!row.text.empty()) {
      for (std::size_t at : {std::size_t{0}, row.text.size() / 2, row.text.size() - 1}) {
        std::wstring changed = row.text;
        changed[at] = changed[at] == L'y' ? L'z' : L'y';
        EXPECT_FALSE(kept == changed) << narrow(row.text) << " at " << at;
      }
      EXPECT_FALSE(kept == row.text.substr(1));
    }
  }
}

}  // namespace
}  // namespace simhost::cim
