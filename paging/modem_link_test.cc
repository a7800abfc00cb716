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
    ComSettings s = ParseComSettings(c.text);
    EXPECT_STREQ(s.port_name, c.port) << c.text;
    EXPECT_EQ(
        std::vector<int>({s.baud_rate, s.data_bits, s.parity, s.stop_bits}),
        std::vector<int>({c.baud, c.bits, c.parity, c.stop}))
        << c.text;
  }
}

// A link on a scripted line, and a check that the hang-up dialogue ran to
// its end: escape, hang up, DTR down, closed.
struct Link {
  explicit Link(const char* settings = "COM1") : link(line, clock, settings) {}
  void ExpectHungUp() {
    EXPECT_NE(line.Written().find("+++ath\r"), std::string::npos);
    EXPECT_EQ(line.transcript.back(), "close");
    EXPECT_EQ(line.Count("dtr 6"), 1);
    EXPECT_EQ(link.IsConnected(), 0);
    EXPECT_EQ(link.PortHandle(), kInvalidSerialHandle);
  }
  long Sleeps(std::uint32_t ms) const {
    return std::count(clock.sleeps.begin(), clock.sleeps.end(), ms);
  }
  ScriptedSerialLine line;
  FakeClock clock;
  ModemLink link;
};

TEST(ModemLinkTest, ConnectsConfiguresAndHangsUp) {
  Link x("com3,19200,7,e,2");
  x.line.Answer({"\r\nOK\r\n", "\r\nCONNECT 9600\r\n"});
  ASSERT_EQ(x.link.Connect("5551234"), 0);
  EXPECT_EQ(x.link.IsConnected(), 1);
  EXPECT_EQ(
      x.line.transcript,
      std::vector<std::string>({"open COM3", "dtr 5", "> atz\r", "< \r\nOK\r\n",
                                "> atdt5551234\r", "< \r\nCONNECT 9600\r\n"}));
  const Dcb& d = x.line.dcb;
  EXPECT_EQ(std::vector<std::uint32_t>(
                {d.BaudRate, d.ByteSize, d.Parity, d.StopBits}),
            std::vector<std::uint32_t>({19200, 7, 2, 2}));
  const CommTimeouts& t = x.line.timeouts;
  EXPECT_EQ(std::vector<std::uint32_t>(
                {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                 t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                 t.WriteTotalTimeoutConstant}),
            std::vector<std::uint32_t>({2000, 5, 500, 5, 500}));

  // A hang-up answered at once needs no pause; a failed read is a miss.
  x.line.Answer({ScriptedSerialLine::kFails, "OK", "ok"});
  EXPECT_EQ(x.link.HangUp(), 0);
  x.ExpectHungUp();
  EXPECT_EQ(x.clock.sleeps, Sleeps{1000});
  for (std::uint32_t size : x.line.read_sizes) EXPECT_EQ(size, 127u);
}

TEST(ModemLinkTest, DialVerdicts) {
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
    SCOPED_TRACE(c.answers.empty() ? "silence" : c.answers.back());
    Link x;
    x.line.Answer({"ok"});
    for (const std::string& a : c.answers) x.line.Answer({a});
    EXPECT_EQ(x.link.Connect("5551234"), c.result);
    EXPECT_EQ(x.Sleeps(2500), c.connect_pauses);
    if (c.result == 1) {
      // The full hang-up followed, and found no OK: five pauses after each
      // of its two commands.
      x.ExpectHungUp();
      EXPECT_EQ(x.Sleeps(1000), 10);
    }
  }
}

TEST(ModemLinkTest, FiveMissedOksOrAFailedWriteFailTheDial) {
  Link x("com3");
  ASSERT_EQ(x.link.Connect("5551234"), 1);
  EXPECT_EQ(x.line.Written(), "atz\r+++ath\r");
  EXPECT_EQ(x.clock.sleeps, Sleeps(15, 1000));
  EXPECT_EQ(x.line.Count("< "), 15);
  x.ExpectHungUp();

  x.line.transcript.clear();
  x.line.write_fails = true;
  EXPECT_EQ(x.link.Connect("1"), 1);
  EXPECT_EQ(x.line.transcript[2], "> atz\r");
  EXPECT_EQ(x.line.transcript[3], "> +++");
  x.ExpectHungUp();
}

// Given a port that cannot be opened or set up, the dial should fail with
// the port closed and nothing written.
TEST(ModemLinkTest, PortThatCannotBeOpenedOrConfigured) {
  Link x("com3");
  x.line.open_fails = true;
  EXPECT_EQ(x.link.Connect("1"), 1);
  EXPECT_EQ(x.link.HangUp(), 0);
  EXPECT_EQ(x.line.transcript, std::vector<std::string>{"open COM3"});
  for (bool ScriptedSerialLine::*fails :
       {&ScriptedSerialLine::get_state_fails,
        &ScriptedSerialLine::get_timeouts_fails,
        &ScriptedSerialLine::set_state_fails}) {
    Link y;
    y.line.*fails = true;
    EXPECT_EQ(y.link.Connect("1"), 1);
    EXPECT_EQ(y.line.transcript.back(), "close");
    EXPECT_EQ(y.line.Count("> "), 0);
    EXPECT_EQ(y.link.IsConnected(), 0);
  }
}

}  // namespace
}  // namespace sentory
