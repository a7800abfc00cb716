#include "paging/modem_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

using Sleeps = std::vector<std::uint32_t>;

TEST(ComSettingsTest, ReadsFieldsByTheCommaAndAtoiRules) {
  struct Case {
    const char* text;
    const char* port;
    std::int32_t baud;
    int bits, parity, stop;
  } cases[] = {
      {"COM2", "COM2", 9600, 8, 0, 0},
      {"com3,19200,7,e,1", "COM3", 19200, 7, 2, 0},
      {"COM2,,7", "COM2", 7, 8, 0, 0},  // the fields move up
      {",,COM4,1200,,5,odd,2,x", "COM4", 1200, 5, 1, 2},
      {"COM1,9600,8,MARK,3", "COM1", 9600, 8, 3, 0},
      {"COM1, -12x,263,s", "COM1", -12, 7, 4, 0},
      {"averyveryverylongport", "AVERYVERYVERYLO", 9600, 8, 0, 0},
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
  // The hang-up dialogue ran to its end: escape, hang up, DTR down, closed.
  void ExpectHungUp() {
    EXPECT_NE(line_.Written().find("+++ath\r"), std::string::npos);
    EXPECT_EQ(line_.transcript.back(), "close");
    EXPECT_EQ(line_.Count("dtr 6"), 1);
    EXPECT_EQ(link_.IsConnected(), 0);
    EXPECT_EQ(link_.PortHandle(), kInvalidSerialHandle);
  }

  ScriptedSerialLine line_;
  FakeClock clock_;
  ModemLink link_{line_, clock_, "com3,19200,7,e,2"};
};

TEST_F(ModemLinkTest, ConnectsConfiguresAndHangsUp) {
  line_.Answer({"\r\nOK\r\n", "\r\nCONNECT 9600\r\n"});
  ASSERT_EQ(link_.Connect("5551234"), 0);
  EXPECT_EQ(link_.IsConnected(), 1);
  std::vector<std::string> expected = {
      "open COM3",    "dtr 5",           "> atz\r",
      "< \r\nOK\r\n", "> atdt5551234\r", "< \r\nCONNECT 9600\r\n"};
  EXPECT_EQ(line_.transcript, expected);
  EXPECT_EQ(line_.dcb.BaudRate, 19200u);
  EXPECT_EQ(line_.dcb.ByteSize, 7);
  EXPECT_EQ(line_.dcb.Parity, 2);
  EXPECT_EQ(line_.dcb.StopBits, 2);
  const CommTimeouts& t = line_.timeouts;
  EXPECT_EQ(std::vector<std::uint32_t>(
                {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                 t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                 t.WriteTotalTimeoutConstant}),
            std::vector<std::uint32_t>({2000, 5, 500, 5, 500}));

  // A hang-up answered at once needs no pause; a failed read is a miss.
  line_.Answer({ScriptedSerialLine::kFails, "OK", "ok"});
  EXPECT_EQ(link_.HangUp(), 0);
  ExpectHungUp();
  EXPECT_EQ(clock_.sleeps, Sleeps{1000});
  for (std::uint32_t size : line_.read_sizes) EXPECT_EQ(size, 127u);
}

TEST_F(ModemLinkTest, DialVerdicts) {
  struct Case {
    std::vector<std::string> answers;  // after the OK of the reset
    int result;
    long connect_pauses;
  } cases[] = {
      {{"connect"}, 0, 0},
      {{"", "RING", "CONNECT 2400"}, 0, 2},
      {{"BUSY"}, 1, 0},
      {{"no dialtone"}, 1, 0},
      {{"NO CARRIER"}, 1, 0},
      {{"NO CARRIER CONNECT"}, 1, 0},  // failure words come first
      {{"CONN", "ECT"}, 1, 24},        // each read stands alone
      {{}, 1, 24},
      {{ScriptedSerialLine::kFails}, 1, 0},
  };
  for (const Case& c : cases) {
    ScriptedSerialLine line;
    FakeClock clock;
    ModemLink link(line, clock, "COM1");
    line.Answer({"ok"});
    for (const std::string& a : c.answers) line.Answer({a});
    SCOPED_TRACE(c.answers.empty() ? "silence" : c.answers.back());
    EXPECT_EQ(link.Connect("5551234"), c.result);
    EXPECT_EQ(std::count(clock.sleeps.begin(), clock.sleeps.end(), 2500u),
              c.connect_pauses);
    if (c.result == 1) {
      // The full hang-up followed, and found no OK: five pauses after each
      // of its two commands.
      EXPECT_EQ(line.Written().substr(line.Written().size() - 7), "+++ath\r");
      EXPECT_EQ(line.transcript.back(), "close");
      EXPECT_EQ(link.IsConnected(), 0);
      EXPECT_EQ(std::count(clock.sleeps.begin(), clock.sleeps.end(), 1000u),
                10);
    }
  }
}

TEST_F(ModemLinkTest, FiveMissedOksOrAFailedWriteFailTheDial) {
  ASSERT_EQ(link_.Connect("5551234"), 1);
  EXPECT_EQ(line_.Written(), "atz\r+++ath\r");
  EXPECT_EQ(clock_.sleeps, Sleeps(15, 1000));
  EXPECT_EQ(line_.Count("< "), 15);
  ExpectHungUp();

  line_.transcript.clear();
  line_.write_fails = true;
  EXPECT_EQ(link_.Connect("1"), 1);
  EXPECT_EQ(line_.transcript[2], "> atz\r");
  EXPECT_EQ(line_.transcript[3], "> +++");
  ExpectHungUp();
}

TEST_F(ModemLinkTest, PortThatCannotBeOpenedOrConfigured) {
  line_.open_fails = true;
  EXPECT_EQ(link_.Connect("1"), 1);
  EXPECT_EQ(link_.HangUp(), 0);
  EXPECT_EQ(line_.transcript, std::vector<std::string>{"open COM3"});

  line_.open_fails = false;
  bool ScriptedSerialLine::*const failing[] = {
      &ScriptedSerialLine::get_state_fails,
      &ScriptedSerialLine::get_timeouts_fails,
      &ScriptedSerialLine::set_state_fails};
  for (bool ScriptedSerialLine::*fails : failing) {
    ScriptedSerialLine line;
    FakeClock clock;
    ModemLink link(line, clock, "COM1");
    line.*fails = true;
    EXPECT_EQ(link.Connect("1"), 1);
    EXPECT_EQ(line.transcript.back(), "close");
    EXPECT_EQ(line.Count("> "), 0);
    EXPECT_EQ(link.IsConnected(), 0);
  }
}

}  // namespace
}  // namespace sentory
