// The modem link, the TAP exchange and the dispatcher, on a scripted line.
#include "paging/paging_dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

using Words = std::vector<std::string>;
using Numbers = std::vector<std::uint32_t>;
const std::string kFails = ScriptedSerialLine::kFails;
const std::string kAck = "\x06", kNak = "\x15", kRs = "\x1e";
const std::string kLogon = "\x1bPG1\r", kBye = "\x1b\x04\r";

// Everything a page goes through; the dispatcher pages 111 and 222.
struct Rig {
  explicit Rig(const char* com = "COM1,9600") : link(line, clock, com) {
    ParseWords(&options, "/C COM1,9600 /PH 5551234 /P0 111 /P1 222");
  }
  // Checks that the hang-up dialogue ran to its end.
  void ExpectHungUp() {
    EXPECT_NE(line.written.find("+++ath\r"), std::string::npos);
    EXPECT_EQ(line.transcript.back(), "close");
    EXPECT_EQ(line.Count("dtr 6"), 1);
    EXPECT_EQ(link.PortHandle(), kInvalidSerialHandle);
  }
  long Sleeps(std::uint32_t ms) const {
    return std::count(clock.sleeps.begin(), clock.sleeps.end(), ms);
  }
  // Pages through an exchange of its own, on a fresh record.
  int Page(const char* pin, std::string message) {
    if (!tap) tap.emplace(line, line.CreateFileA("C"), false, out);
    line.transcript.clear();
    line.written.clear();
    text = message;
    return tap->SendPage(pin, &text[0]);
  }

  OptionTable options;
  ScriptedSerialLine line;
  FakeClock clock;
  FakeConsole console;
  OutputStream out{console};
  ModemLink link;
  PageRateWindow rate;
  PagingDispatcher dispatcher{options, out, clock, link, rate};
  std::optional<TapExchange> tap;
  std::string text;
};

TEST(ComSettingsTest, ReadsFieldsByTheCommaAndAtoiRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"com3,19200,7,e,1", "COM3 19200 7 2 0"},
      {"COM2,,7", "COM2 7 8 0 0"},  // the fields move up
      {",,COM4,1200,,5,odd,2,x", "COM4 1200 5 1 2"},
      {"COM1,9600,8,MARK,3", "COM1 9600 8 3 0"},
      {"COM1, -12x,263,s", "COM1 -12 7 4 0"},
      {"averyveryverylongport", "AVERYVERYVERYLO 9600 8 0 0"},
  };
  for (const auto& [text, fields] : cases) {
    ComSettings s = ParseComSettings(text);
    char got[64];
    std::snprintf(got, sizeof(got), "%s %d %d %d %d", s.port_name, s.baud_rate,
                  s.data_bits, s.parity, s.stop_bits);
    EXPECT_STREQ(got, fields) << text;
  }
}

// Port fault or answers → result, atdt sent, 2500/1000 ms pauses, hang-up.
TEST(ModemLinkTest, ConnectVerdicts) {
  using L = ScriptedSerialLine;
  const struct {
    Words answers;
    int result, dials;
    long dial_pauses, ok_pauses;
    bool L::*fault = nullptr;
  } cases[] = {
      {{"\r\nOK\r\n", "\r\nCONNECT 9600\r\n"}, 0, 1, 0, 0},
      {{"", "OK", "", "RING", "connect 2400"}, 0, 1, 2, 1},
      {{"ok", "BUSY", kFails, "OK", "ok"}, 1, 1, 0, 1},  // a failed read: miss
      {{"ok", "no dialtone"}, 1, 1, 0, 10},
      {{"ok", "NO CARRIER"}, 1, 1, 0, 10},
      {{"ok", "NO CARRIER CONNECT"}, 1, 1, 0, 10},  // failure words first
      {{"ok", "CONN", "ECT"}, 1, 1, 24, 10},        // each read stands alone
      {{"ok"}, 1, 1, 24, 10},
      {{"ok", kFails}, 1, 1, 0, 10},
      {{kFails}, 1, 0, 0, 10},
      {{}, 1, 0, 0, 15},  // no OK to the reset in five reads
      {{}, 1, 0, 0, 10, &L::write_fails},
      {{}, 1, 0, 0, 0, &L::open_fails},
      {{}, 1, 0, 0, 0, &L::get_state_fails},
      {{}, 1, 0, 0, 0, &L::get_timeouts_fails},
      {{}, 1, 0, 0, 0, &L::set_state_fails},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Rig x("com3,19200,7,e,2");
    x.line.replies.assign(c.answers.begin(), c.answers.end());
    if (c.fault) x.line.*c.fault = true;
    EXPECT_EQ(x.link.Connect("5551234"), c.result);
    EXPECT_EQ(x.link.IsConnected(), 1 - c.result);
    EXPECT_EQ(x.line.Count("> atdt5551234\r"), c.dials);
    EXPECT_EQ(x.Sleeps(2500), c.dial_pauses);
    EXPECT_EQ(x.Sleeps(1000), c.ok_pauses);
    EXPECT_EQ(x.line.Count("close"), c.fault == &L::open_fails ? 0 : c.result);
    if (c.result == 1 && c.ok_pauses > 0) x.ExpectHungUp();
    if (c.result == 1) continue;
    EXPECT_EQ(Words(x.line.transcript.begin(), x.line.transcript.begin() + 3),
              Words({"open COM3", "dtr 5", "> atz\r"}));
    const Dcb& d = x.line.dcb;
    const CommTimeouts& t = x.line.timeouts;
    EXPECT_EQ(Numbers({d.BaudRate, d.ByteSize, d.Parity, d.StopBits,
                       t.ReadIntervalTimeout, t.ReadTotalTimeoutConstant}),
              Numbers({19200, 7, 2, 2, 2000, 500}));
  }
}

// Terminal replies → result, state after, wake-up CRs and logons sent.
TEST(TapExchangeTest, RepliesToPromptLogonAndBlock) {
  struct Case {
    Words replies;
    int result;
    unsigned state;
    int crs_sent, logons;
  } cases[] = {
      {{"id=", "\r" + kAck, kAck}, 0, 4, 1, 1},
      {{"ID=", "\n" + kAck}, 1, 0, 1, 1},
      {{"ID=", "\r"}, 1, 0, 1, 1},  // a lone CR yields the terminator
      {{"ID=", "\r\r" + kAck, kAck}, 1, 0, 1, 1},  // only one CR is skipped
      {{"ID=", "", "", kAck, kAck}, 0, 4, 1, 1},   // three reads per step
      {{"ID=", kNak, kNak, kNak, kAck, kNak, kAck}, 0, 4, 1, 4},
      {{"ID=", kNak, kNak, kNak, kNak, kAck, kAck}, 1, 0, 1, 4},  // resent 3x
      {{"ID=", kAck, "\r" + kRs}, 1, 4, 1, 1},  // the next page needs no logon
      {{"ID=", kAck, kNak, kNak, kNak, kAck}, 0, 4, 1, 1},
      {{"ID=", kAck, kNak, kNak, kNak, kNak, kAck}, 1, 4, 1, 1},  // resent 3x
      {{"ID=", kAck, "?"}, 1, 0, 1, 1},
      {{"hello", "?", "ID", "I D="}, 1, 0, 4, 0},
      {{"x", "", "", "", "x", "ID=", kAck, kAck}, 0, 4, 4, 1},
      {{}, 1, 0, 4, 0},       // silence: three empty reads are a miss
      {{"ID="}, 1, 0, 1, 1},  // silence after the logon
      {{"ID=", kAck, kFails}, 1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replies.empty() ? "silence" : c.replies.back());
    Rig x;
    x.line.replies.assign(c.replies.begin(), c.replies.end());
    EXPECT_EQ(x.Page("1", "x"), c.result);
    EXPECT_EQ(x.tap->state(), c.state);
    EXPECT_EQ(x.line.Count("> \r"), c.crs_sent);
    EXPECT_EQ(x.line.Count("> " + kLogon), c.logons);
  }
}

// PIN and text → block (first two captured from an independent client).
TEST(TapExchangeTest, BuildsBlocksLogsOffAndChecksums) {
  const std::string a245(245, 'a');
  const struct {
    const char* pin;
    std::string text, block, sent;
  } cases[] = {
      {"", "abc", "\x02\x0d\x61\x62\x63\x0d\x03\x31\x34\x35\x0d", "abc"},
      {"1234567", "Disk C: 95% full",
       "\0021234567\rDisk C: 95% full\r\003639\r", "Disk C: 95% full"},
      {"123", a245 + "zz", "\002123\r" + a245 + "\r\003=8:\r", a245},
      {"123", "", "\002123\r\r\0030;5\r", ""},
      {"1", "A\tB\351C\177", "\0021\rA.B.C.\r\0031:0\r", "A.B.C."},
  };
  Rig x;
  x.line.Answer({"\r\nID=", kAck});
  for (const auto& c : cases) {
    x.line.Answer({kAck});
    ASSERT_EQ(x.Page(c.pin, c.text), 0);
    EXPECT_EQ(x.line.written, (&c == cases ? "\r" + kLogon : "") + c.block);
    EXPECT_EQ(x.text.substr(0, c.sent.size()), c.sent);
    EXPECT_EQ(x.tap->state(), 4u);
  }
  for (const auto& [reply, result] : std::vector<std::pair<std::string, int>>{
           {kBye, 0}, {"\r" + kBye, 1}, {"", 1}}) {
    x.line.Answer({reply});
    x.line.written.clear();
    EXPECT_EQ(x.tap->LogOff(), result);
    EXPECT_EQ(x.line.written, "\x04\r");
    EXPECT_EQ(x.tap->state(), 0u);
  }
  // The check digits, CR and terminator must fit, else nothing is appended.
  char exact[6] = "\x80", short_of_one[5] = "\x80";  // -128 is 0xFF80
  AppendChecksum(exact, sizeof(exact));
  AppendChecksum(short_of_one, sizeof(short_of_one));
  EXPECT_STREQ(exact, "\x80?80\r");
  EXPECT_STREQ(short_of_one, "\x80");
}

// Calls in a row (port -1: open fails, 1: dials first) → result, console.
TEST(PagingDispatcherTest, CallsInARow) {
  const std::string error = " Error connecting to 5551234 on COM1,9600\n";
  const struct {
    int port, mode;
    Words answers;
    int result;
    std::string console;
  } cases[] = {
      {0, 1, {}, 0, ""},  // no line to hang up
      {0, 2, {}, 1, ""},
      {-1, 0, {}, 1, error},
      {-1, 0, {}, 1, ""},
      {1, 0, {kAck, kAck}, 0, " Paged: 111 222\n"},
      {0, 0, {kAck, kRs}, 0, " Paged: 111 222(error)\n"},
      {0,
       0,
       {kRs, kRs, kBye, "OK", "OK"},
       1,
       " Paged: 111(error) 222(error) No pages sent. Retrying...\n"},
      {-1, 0, {}, 1, error},
      {1, 0, {kRs, kAck}, 0, " Paged: 111(error) 222\n"},
      {0, 1, {kBye, "OK", "OK"}, 0, ""},
  };
  Rig p;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    p.line.open_fails = c.port < 0;
    if (c.port > 0) p.line.Answer({"OK", "CONNECT 9600", "ID=", kAck});
    p.line.replies.insert(p.line.replies.end(), c.answers.begin(),
                          c.answers.end());
    p.console.console.clear();
    p.text = "alert";
    EXPECT_EQ(p.dispatcher.SendPages(c.mode, &p.text[0]), c.result);
    EXPECT_EQ(p.console.console, c.console);
    EXPECT_TRUE(p.line.replies.empty());
  }
  EXPECT_EQ(p.clock.beeps, (decltype(p.clock.beeps){{500, 250}, {500, 250}}));
  EXPECT_EQ(p.rate.pages_in_window, 4u);
  EXPECT_EQ(p.link.IsConnected(), 0);
  EXPECT_EQ(p.line.Count("> \x04\r"), 2);
}

// Call at |now|, |pages| in the 60 s window from 1000 → pauses, window.
TEST(PagingDispatcherTest, PageRateWindow) {
  const struct {
    std::int64_t now;
    std::uint32_t pages;
    std::size_t pauses;
    std::uint32_t start_after, pages_after;
  } cases[] = {{1060, 4, 0, 1000, 6},
               {1061, 4, 0, 1061, 2},
               {999, 4, 0, 999, 2},
               {1000, 5, 21, 1063, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.now);
    Rig p;
    p.clock.now = 1000;
    p.line.Answer({"OK", "CONNECT", "ID=", kAck, kAck, kAck, kAck, kAck});
    ASSERT_EQ(p.dispatcher.SendPages(0, nullptr), 0);  // the first never waits
    p.rate.pages_in_window = c.pages;
    p.clock.now = c.now;
    if (c.pauses > 0)
      p.line.replies = {kBye,  "OK", "OK", "OK", "CONNECT",
                        "ID=", kAck, kAck, kAck};
    ASSERT_EQ(p.dispatcher.SendPages(0, nullptr), 0);
    EXPECT_EQ(p.clock.sleeps, Numbers(c.pauses, 3000));
    EXPECT_EQ(p.line.Count("> +++"), c.pauses > 0 ? 1 : 0);
    EXPECT_EQ(p.rate.window_start, c.start_after);
    EXPECT_EQ(p.rate.pages_in_window, c.pages_after);
  }
}

}  // namespace
}  // namespace sentory
