#include <gtest/gtest.h>

#include <comdef.h>

#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/bstr.h"
#include "core/com_ptr.h"
#include "platform/log.h"
#include "capture.h"
#include "platform/wmi.h"
#include "test_access.h"
#include "wintvlogger.h"

namespace {

using hvc::AnsiToBstr;
using hvc::BstrToAnsi;

TEST(AnsiToBstr, ConvertsNullEmptyAndText) {
  EXPECT_EQ(AnsiToBstr(nullptr), nullptr);

  hvc::BstrPtr empty(AnsiToBstr(""));
  ASSERT_NE(empty.Get(), nullptr);
  EXPECT_EQ(SysStringLen(empty.Get()), 0u);

  hvc::BstrPtr text(AnsiToBstr("ROOT\\VIRTUALIZATION"));
  EXPECT_EQ(SysStringLen(text.Get()), 19u);
  EXPECT_STREQ(text.Get(), L"ROOT\\VIRTUALIZATION");
}

TEST(AnsiToBstr, UsesTheAnsiCodePageBothWays) {
  // Whatever the ANSI code page is (UTF-8 in our layer, 1252 on a Western Windows), the narrow
  // form is that code page's.
  const wchar_t* wide = L"Caf\u00E9";
  char narrow[16] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr), 0);
  hvc::BstrPtr converted(AnsiToBstr(narrow));
  EXPECT_STREQ(converted.Get(), wide);
  char* back = BstrToAnsi(converted.Get());
  EXPECT_STREQ(back, narrow);
  delete[] back;
  EXPECT_EQ(BstrToAnsi(nullptr), nullptr);
}

TEST(RaiseComError, ThrowsTheHresultWithoutErrorInfo) {
  struct Case {
    unsigned long win32;
    HRESULT expected;
  } cases[] = {{ERROR_NO_UNICODE_TRANSLATION, static_cast<HRESULT>(0x80070459)},
               {ERROR_INSUFFICIENT_BUFFER, static_cast<HRESULT>(0x8007007A)},
               {0, 0},
               {0x8004100E, static_cast<HRESULT>(0x8004100E)}};
  for (const Case& c : cases) {
    try {
      hvc::RaiseComError(HRESULT_FROM_WIN32(c.win32));
      ADD_FAILURE() << "nothing raised";
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), c.expected) << c.win32;
      EXPECT_EQ(e.ErrorInfo(), nullptr);
    }
  }
}

TEST(CopyCut, WideTextIsCutToTheFieldOrLeftEmptyWhenItCannotConvert) {
  struct Case {
    std::optional<std::wstring> text;
    std::string expected;
  } cases[] = {
      {L"Intel(R) Ethernet", "Intel(R) Ethernet"},
      {L"", ""},
      {std::nullopt, ""},
      {std::wstring(63, L'a'), std::string(63, 'a')},
      {std::wstring(70, L'b'), std::string(63, 'b')},
      {L"\u4E2D\u6587", ""},  // not representable in the "C" locale
  };
  for (const Case& c : cases) {
    char field[64];
    std::memset(field, 'Z', sizeof field);
    hvc::CopyCut(field, sizeof field, c.text ? c.text->c_str() : nullptr);
    EXPECT_EQ(std::string(field), c.expected);
  }
}

TEST(CopyCut, NarrowTextIsCutToTheField) {
  char field[8];
  for (const auto& [text, expected] :
       {std::pair<const char*, const char*>{"Lab", "Lab"}, {"External LAN", "Externa"}, {nullptr, ""}}) {
    std::memset(field, 'Z', sizeof field);
    hvc::CopyCut(field, text);
    EXPECT_STREQ(field, expected);
  }
}

// The last key of a switch port's path is its switch; the second is the port's own name.
TEST(KeyValue, TakesTheLastOrTheSecondKeyOfAPath) {
  const char* port =
      "\\\\HV\\root\\virtualization:Msvm_SwitchPort.CreationClassName=\"Msvm_SwitchPort\",Name=\"P1\","
      "SystemCreationClassName=\"Msvm_VirtualSwitch\",SystemName=\"S1\"";
  struct Case {
    const char* path;
    hvc::Key key;
    std::size_t capacity;
    bool found;
    const char* expected;
  } cases[] = {
      {port, hvc::Key::last, 64, true, "S1"},
      {port, hvc::Key::last, 2, true, "S"},  // cut to fit
      {"Msvm_SwitchPort.Name=\"P1\"", hvc::Key::last, 64, true, "P1"},
      {"Msvm_SwitchPort.Name=", hvc::Key::last, 64, false, "untouched"},
      {"Msvm_SwitchPort.Name=\"P1", hvc::Key::last, 64, false, "untouched"},
      {port, hvc::Key::second, 64, true, "P1"},
      {R"(a="b",Name="C81E2B7D")", hvc::Key::second, 4, true, "C81"},
      {R"(a="",b="")", hvc::Key::second, 64, true, ""},
      {"", hvc::Key::second, 64, false, "untouched"},
      {"a=", hvc::Key::second, 64, false, "untouched"},
      {"Msvm_SwitchPort.Name=\"C81E2B7D\"", hvc::Key::second, 64, false, "untouched"},
      {R"(a="b",c=)", hvc::Key::second, 64, false, "untouched"},
      {R"(a="b",c="d)", hvc::Key::second, 64, false, "untouched"},
  };
  for (const Case& c : cases) {
    char value[64] = "untouched";
    EXPECT_EQ(hvc::KeyValue(c.path, c.key, value, c.capacity), c.found) << c.path;
    EXPECT_STREQ(value, c.expected) << c.path;
  }
}

TEST(StrToLower, LowersEveryCharacterAndEndsTheText) {
  HypervConfig config;
  struct Case {
    const char* source;
    const char* expected;
  } cases[] = {{"", ""}, {"0F5E5DA3-ABCD-4E2B", "0f5e5da3-abcd-4e2b"}, {"bcde", "bcde"}, {"BCDE", "bcde"}};
  for (const Case& c : cases) {
    char destination[32];
    std::memset(destination, 'E', sizeof destination);  // what it held before does not matter
    std::vector<char> source(c.source, c.source + std::strlen(c.source) + 1);
    HypervConfigTestAccess::Call(config, HypervConfigTestAccess::StrToLower, source.data(), destination);
    EXPECT_STREQ(destination, c.expected);
    EXPECT_EQ(destination[std::strlen(c.expected) + 1], 'E') << "wrote past the terminating zero";
  }
}

TEST(HypervConfigObject, ErrorTextIsEmptyAndInsideTheObject) {
  HypervConfig config;
  const unsigned char* bytes = HypervConfigTestAccess::Bytes(config);
  for (int argument : {0, 1, -1, 42}) {
    char* text = config.GetErrStr(argument);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(text), bytes + 1);
    EXPECT_STREQ(text, "");
  }
  for (std::size_t i = 1; i < sizeof(HypervConfig); ++i)
    EXPECT_EQ(bytes[i], 0) << i;
}

TEST(HypervConfigObject, AssignmentCopiesEveryByteAndReturnsTheLeftSide) {
  HypervConfig a;
  HypervConfig b;
  std::strcpy(a.GetErrStr(0), "text the library never writes");
  HypervConfig& result = (b = a);
  EXPECT_EQ(&result, &b);
  EXPECT_EQ(std::memcmp(HypervConfigTestAccess::Bytes(a) + 1, HypervConfigTestAccess::Bytes(b) + 1, 1024), 0);
}

void CaptureLog(int module, int type, const char* text, void* context) {
  *static_cast<std::string*>(context) += std::to_string(module) + "/" + std::to_string(type) + " " + text + "|";
}

TEST(Diagnostics, LogLinesUseModule15AndType2AndTheirTextAsFormat) {
  std::string log;
  std::string formats;
  TvLoggerSetSink(CaptureLog, &log);
  TvLoggerSetFormatSink(CaptureLog, &formats);
  hvc::LogMsg("Virtual Network not found %s", "lab");
  hvc::LogMsg("Return value of RequestStateChange method %d", hvc::AsSigned16(32775));
  hvc::LogMsg("Adding resources failed");
  TvLoggerSetSink(nullptr, nullptr);
  TvLoggerSetFormatSink(nullptr, nullptr);
  EXPECT_EQ(formats,
            "15/2 Virtual Network not found %s|15/2 Return value of RequestStateChange method %d|"
            "15/2 Adding resources failed|");
  EXPECT_EQ(log,
            "15/2 Virtual Network not found lab|15/2 Return value of RequestStateChange method -32761|"
            "15/2 Adding resources failed|");
}

// An HRESULT line leaves std::cout in hexadecimal. VmState.NumbersAfterAnHresultLineAreHexadecimal
// shows it for the line with the last error, and the 16-bit return values after it.
TEST(Diagnostics, AnHresultLineLeavesTheStreamInHexadecimal) {
  hvc::test::StreamCapture capture(stdout);
  hvc::ReportHresult("Could not connect. Error code = 0x", static_cast<HRESULT>(0x8004100E));
  std::cout << 255 << std::endl;
  const std::string out = capture.Take();
  std::cout << std::dec;
  EXPECT_EQ(out, "Could not connect. Error code = 0x8004100e\nff\n");
}

}  // namespace
