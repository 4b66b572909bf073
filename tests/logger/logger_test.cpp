#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture.h"
#include "wintvlogger.h"

namespace {

struct Line {
  int module;
  int type;
  std::string text;
};

void Capture(int module, int type, const char* text, void* context) {
  static_cast<std::vector<Line>*>(context)->push_back({module, type, text});
}

class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { TvLoggerSetSink(Capture, &lines_); }
  void TearDown() override { TvLoggerSetSink(nullptr, nullptr); }
  std::vector<Line> lines_;
};

TEST_F(LoggerTest, LongTextIsNotCut) {
  const std::string name(5000, 'x');
  EXPECT_EQ(TvLogger::TorvaneLogMsg(15, 2, "VM not found %s", name.c_str()), 5013);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].text, "VM not found " + name);
}

TEST_F(LoggerTest, NoFormatLogsNothing) {
  EXPECT_EQ(TvLogger::TorvaneLogMsg(15, 2, nullptr), -1);
  EXPECT_TRUE(lines_.empty());
}

TEST(LoggerSink, AFailingSinkDoesNotReachTheCaller) {
  TvLoggerSetSink([](int, int, const char*, void*) { throw std::runtime_error("disk full"); }, nullptr);
  EXPECT_EQ(TvLogger::TorvaneLogMsg(15, 2, "Adding resources failed"), -1);
  TvLoggerSetSink(nullptr, nullptr);
}

TEST(LoggerSink, DefaultSinkStampsEachLineOnStandardError) {
  TvLoggerSetSink(nullptr, nullptr);
  hvc::test::StreamCapture capture(stderr);
  TvLogger::TorvaneLogMsg(15, 2, "Virtual Network not found %s", "lab");
  TvLogger::TorvaneLogMsg(15, 2, "Unable to find switchport to delete\n");
  const std::string err = capture.Take();
  const std::regex expected(
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[15/2\\] Virtual Network not found lab\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[15/2\\] Unable to find switchport to delete\n");
  EXPECT_TRUE(std::regex_match(err, expected)) << err;
}

}  // namespace
