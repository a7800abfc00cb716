#include "paging/modem_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

TEST(ComSettingsTest, ReadsFieldsByTheCommaAndAtoiRules) {
  struct Case {
    const char* text;
    const char* port;
    std::int32_t baud;
    int bits, parity, stop;
  } cases[] = {
      {"COM2", "COM2", 9600, 8, 0, 0},
      {"com3,19200,7,e,1", "COM3", 19200, 7, 2, 0},
      // An empty field does not keep its default: the fields move up.
      {"COM2,,7", "COM2", 7, 8, 0, 0},
      {",,COM4,,1200,,5,odd,2,extra", "COM4", 1200, 5, 1, 2},
      {"COM1,9600,8,X,1.5", "COM1", 9600, 8, 0, 0},
      {"COM1,9600,8,MARK,3", "COM1", 9600, 8, 3, 0},
      {"COM1,9600,8,s", "COM1", 9600, 8, 4, 0},
      {"COM1, -12x,263", "COM1", -12, 7, 0, 0},
      {"COM1,fast", "COM1", 0, 8, 0, 0},
      {"averyveryverylongportname", "AVERYVERYVERYLO", 9600, 8, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ComSettings s = ParseComSettings(c.text);
    EXPECT_STREQ(s.port_name, c.port);
    EXPECT_EQ(s.baud_rate, c.baud);
    EXPECT_EQ(s.data_bits, c.bits);
    EXPECT_EQ(s.parity, c.parity);
    EXPECT_EQ(s.stop_bits, c.stop);
  }
}

class ModemLinkTest : public ::testing::Test {
 protected:
  int Connect() { return link_.Connect("5551234"); }
  // The hang-up dialogue ran to its end: escape, hang up, DTR down, closed.
  void ExpectHungUp() {
    std::string written = line_.Written();
    EXPECT_NE(written.find("+++ath\r"), std::string::npos) << written;
    EXPECT_EQ(line_.transcript.back(), "close");
    EXPECT_EQ(line_.Entries("dtr 6").size(), 1u);
    EXPECT_EQ(link_.IsConnected(), 0);
    EXPECT_EQ(link_.PortHandle(), kInvalidSerialHandle);
  }

  ScriptedSerialLine line_;
  FakeClock clock_;
  ModemLink link_{line_, clock_, "com3,19200,7,e,2"};
};

TEST_F(ModemLinkTest, ConnectConfiguresTheLineAndDials) {
  line_.Answer({"\r\nOK\r\n", "\r\nCONNECT 9600\r\n"});
  ASSERT_EQ(Connect(), 0);
  EXPECT_EQ(link_.IsConnected(), 1);
  EXPECT_NE(link_.PortHandle(), kInvalidSerialHandle);
  std::vector<std::string> expected = {
      "open COM3",    "dtr 5",           "> atz\r",
      "< \r\nOK\r\n", "> atdt5551234\r", "< \r\nCONNECT 9600\r\n"};
  EXPECT_EQ(line_.transcript, expected);
  EXPECT_EQ(line_.dcb.BaudRate, 19200u);
  EXPECT_EQ(line_.dcb.ByteSize, 7);
  EXPECT_EQ(line_.dcb.Parity, 2);
  EXPECT_EQ(line_.dcb.StopBits, 2);
  EXPECT_EQ(line_.timeouts.ReadIntervalTimeout, 2000u);
  EXPECT_EQ(line_.timeouts.ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(line_.timeouts.ReadTotalTimeoutConstant, 500u);
  EXPECT_EQ(line_.timeouts.WriteTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(line_.timeouts.WriteTotalTimeoutConstant, 500u);
  for (std::uint32_t size : line_.read_sizes) EXPECT_EQ(size, 127u);
  EXPECT_TRUE(clock_.sleeps.empty());

  // A hang-up answered at once needs no pause.
  line_.Answer({"OK", "OK"});
  EXPECT_EQ(link_.HangUp(), 0);
  ExpectHungUp();
  EXPECT_TRUE(clock_.sleeps.empty());
}

TEST_F(ModemLinkTest, DialVerdicts) {
  struct Case {
    std::vector<std::string> answers;  // after the OK of the reset
    int result;
    std::size_t connect_pauses;
  } cases[] = {
      {{"connect"}, 0, 0},
      {{"", "RING", "CONNECT 2400"}, 0, 2},
      {{"BUSY"}, 1, 0},
      {{"no dialtone"}, 1, 0},
      {{"NO CARRIER"}, 1, 0},
      {{"NO CARRIER CONNECT"}, 1, 0},
      // Each read is examined by itself.
      {{"CONN", "ECT"}, 1, 24},
      {{}, 1, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.empty() ? "silence" : c.answers.back());
    ScriptedSerialLine line;
    FakeClock clock;
    ModemLink link(line, clock, "COM1");
    line.Answer({"ok"});
    for (const std::string& a : c.answers) line.Answer({a});
    EXPECT_EQ(link.Connect("5551234"), c.result);
    EXPECT_EQ(std::count(clock.sleeps.begin(), clock.sleeps.end(), 2500u),
              static_cast<long>(c.connect_pauses));
    if (c.result == 1) {
      EXPECT_EQ(link.IsConnected(), 0);
      EXPECT_EQ(line.transcript.back(), "close");
      // The hang-up found no OK: five pauses after each of its commands.
      EXPECT_EQ(std::count(clock.sleeps.begin(), clock.sleeps.end(), 1000u),
                10);
    }
  }
}

TEST_F(ModemLinkTest, FiveMissedOksFailTheDialAndHangUp) {
  ASSERT_EQ(Connect(), 1);
  EXPECT_EQ(line_.Written(), "atz\r+++ath\r");
  // Five pauses of the reset wait, then five for each hang-up command.
  EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>(15, 1000));
  EXPECT_EQ(line_.Entries("< ").size(), 15u);
  ExpectHungUp();
}

TEST_F(ModemLinkTest, FailedReadOrWriteEndsTheDialAtOnce) {
  line_.Answer({"OK"});
  line_.AnswerFailure();
  line_.Answer({"OK", "OK"});
  EXPECT_EQ(Connect(), 1);
  EXPECT_TRUE(clock_.sleeps.empty());
  ExpectHungUp();

  ScriptedSerialLine line;
  FakeClock clock;
  ModemLink link(line, clock, "COM1");
  line.write_fails = true;
  EXPECT_EQ(link.Connect("1"), 1);
  // No read before the hang-up, whose failures are ignored.
  EXPECT_EQ(line.transcript[3], "> +++");
  EXPECT_EQ(link.IsConnected(), 0);
  EXPECT_EQ(line.transcript.back(), "close");
}

TEST_F(ModemLinkTest, FailedReadInHangUpCountsAsMiss) {
  line_.Answer({"OK", "CONNECT"});
  ASSERT_EQ(Connect(), 0);
  line_.AnswerFailure();
  line_.Answer({"OK", "OK"});
  EXPECT_EQ(link_.HangUp(), 0);
  EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>{1000});
  ExpectHungUp();
}

TEST_F(ModemLinkTest, PortThatCannotBeOpenedOrConfigured) {
  line_.open_fails = true;
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(line_.transcript, std::vector<std::string>{"open COM3"});
  EXPECT_EQ(link_.HangUp(), 0);
  EXPECT_EQ(line_.transcript.size(), 1u);

  ScriptedSerialLine line;
  FakeClock clock;
  ModemLink link(line, clock, "COM1");
  line.set_state_fails = true;
  EXPECT_EQ(link.Connect("1"), 1);
  EXPECT_EQ(line.transcript, (std::vector<std::string>{"open COM1", "close"}));
  EXPECT_EQ(link.IsConnected(), 0);
}

TEST_F(ModemLinkTest, ServesManyConnections) {
  for (int call = 0; call < 3; ++call) {
    line_.Answer({"OK", "CONNECT", "OK", "OK"});
    ASSERT_EQ(Connect(), 0);
    ASSERT_EQ(link_.HangUp(), 0);
  }
  EXPECT_EQ(line_.opens, 3);
  EXPECT_FALSE(line_.open);
}

}  // namespace
}  // namespace sentory
