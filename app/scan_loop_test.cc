#include "app/scan_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/time_text.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

constexpr std::int64_t kFriday = 920624818;  // Fri Mar 05 09:06:58 1999 UTC

// A clock whose local time is whatever the test sets, so the text is
// tested on its own, not the calendar behind it.
class CalendarClock : public FakeClock {
 public:
  bool ToLocalTime(std::int64_t, CalendarTime* out) override {
    *out = local;
    return converts;
  }
  CalendarTime local;
  bool converts = true;
};

// Given each local time, the text should be its 24 characters, and question
// marks where the clock cannot convert the time or gives a field out of
// range.
TEST(TimeTextTest, Format) {
  const char kUnknown[] = "??? ??? ?? ??:??:?? ????";
  const struct {
    CalendarTime local;
    const char* text;
  } cases[] = {
      {{1999, 2, 5, 9, 6, 58, 5}, "Fri Mar 05 09:06:58 1999"},
      {{1999, 11, 5, 18, 1, 1, 0}, "Sun Dec 05 18:01:01 1999"},
      {{2106, 0, 31, 23, 59, 60, 6}, "Sat Jan 31 23:59:60 2106"},
      {{999, 5, 1, 0, 0, 0, 1}, "Mon Jun 01 00:00:00 0999"},
      {{10000, 0, 1, 0, 0, 0, 1}, kUnknown},
      {{1999, 12, 1, 0, 0, 0, 1}, kUnknown},
      {{1999, 0, 0, 0, 0, 0, 1}, kUnknown},
      {{1999, 0, 1, 24, 0, 0, 1}, kUnknown},
      {{1999, 0, 1, 0, 0, 0, 7}, kUnknown},
  };
  CalendarClock clock;
  for (const auto& c : cases) {
    clock.local = c.local;
    EXPECT_EQ(TimeText(clock, 0), c.text);
  }
  clock.converts = false;
  clock.local = cases[0].local;
  EXPECT_EQ(TimeText(clock, 0), kUnknown);
}

// The loop over the System log of S1 with |words| and severity E.
class ScanLoopTest : public testing::Test {
 protected:
  void SetUp() override { fakes_.event_log.At("S1", "System"); }
  void Options(std::vector<const char*> words) {
    words.insert(words.begin(), {"sentory", "/M0", "S1", "/SYS"});
    state_.options.ParseCommandLine(static_cast<int>(words.size()),
                                    words.data());
    ParseSeverities("E", &state_.severities);
    state_.cursors.Reset(1);
  }
  // Runs the loop from a clear console and clock until its |sleeps|-th
  // pause ends the process.
  void Scan(int sleeps) {
    fakes_.console.console.clear();
    fakes_.clock.sleeps.clear();
    fakes_.clock.stop_after_sleeps = sleeps;
    EXPECT_THROW(ScanAndAlert(state_), ProcessEnded);
  }
  FakePlatform fakes_;
  RunState state_{fakes_.platform};
};

// Given three new events in one pass and none in the next, the output should
// be three blocks with both times, each followed by its program run, one
// empty line and the scanning line, then nothing; each alert should beep
// and each pass pause 3000 ms.
TEST_F(ScanLoopTest, PassOutput) {
  Options({"/R", "p"});
  fakes_.clock.now = kFriday;
  Scan(1);  // first visit: nothing new
  std::string blocks;
  for (std::uint32_t id : {1, 2, 3}) {
    EventFields fields;
    fields.event_id = id;
    fields.time = static_cast<std::uint32_t>(kFriday);
    fields.strings = {"s" + std::to_string(id)};
    fakes_.event_log.Append("S1", "System", fields);
    blocks +=
        "***Alert time: Fri Mar 05 09:07:03 1999  Event time: Fri Mar 05 "
        "09:06:58 1999\n SERVER1*Sys*ERR*Disk*" +
        std::to_string(id) + "*s" + std::to_string(id) + "\n Running: p\n";
  }
  fakes_.clock.now = kFriday + 5;
  Scan(2);
  EXPECT_EQ(fakes_.console.console,
            "Scanning event logs (ctrl-c to quit)...\n" + blocks +
                "\nScanning event logs (ctrl-c to quit)...\n");
  EXPECT_EQ(fakes_.process.command_lines.size(), 3u);
  EXPECT_EQ(fakes_.clock.beeps,
            (decltype(fakes_.clock.beeps)(3, std::make_pair(500u, 250u))));
  EXPECT_EQ(fakes_.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

// Given paging, the loop should hang the line up at the end of every pass,
// before its pause, also after a pass without alerts, and try a page that
// cannot be sent again every 3000 ms.
TEST_F(ScanLoopTest, PagingHangsUpAfterEveryPassAndRetries) {
  Options({"/C", "COM1", "/PH", "555", "/P0", "77"});
  ScriptedSerialLine& line = fakes_.serial_ports;
  state_.modem = std::make_unique<ModemLink>(line, fakes_.clock, "COM1");
  state_.pager = std::make_unique<PagingDispatcher>(state_.options, state_.out,
                                                    fakes_.clock, *state_.modem,
                                                    state_.page_rate);

  // A line left up is hung up by a pass that pages nothing.
  line.Answer({"OK", "CONNECT 9600"});
  ASSERT_EQ(state_.modem->Connect("555"), 0);
  line.Answer({"OK", "OK"});
  Scan(0);
  EXPECT_EQ(line.Count("> ath"), 1);
  EXPECT_EQ(state_.modem->IsConnected(), 0);

  // A pass with an alert: dial, page, log off, hang up, then the pause.
  fakes_.event_log.Append("S1", "System", EventFields());
  line.Answer(
      {"OK", "CONNECT 9600", "ID=", "\x06", "\x06", "\x1b\x04\r", "OK", "OK"});
  Scan(0);
  EXPECT_NE(fakes_.console.console.find(" Paged: 77\n"), std::string::npos)
      << fakes_.console.console;
  EXPECT_EQ(line.Count("> ath"), 2);
  EXPECT_EQ(state_.modem->IsConnected(), 0);

  // A terminal that cannot be reached: the same alert every 3000 ms.
  fakes_.event_log.Append("S1", "System", EventFields());
  line.open_fails = true;
  const int opens = line.Count("open");
  Scan(2);
  EXPECT_EQ(line.Count("open") - opens, 3);
  EXPECT_EQ(fakes_.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

}  // namespace
}  // namespace sentory
