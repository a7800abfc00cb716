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
    if (!converts) return false;
    *out = local;
    return true;
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
  EXPECT_EQ(TimeText(clock, 0), kUnknown);
}

// Runs the loop from a clear console and clock until its |sleeps|-th pause
// ends the process.
void ScanUntilSleeps(FakePlatform& fakes, RunState& state, int sleeps) {
  fakes.console.console.clear();
  fakes.clock.sleeps.clear();
  fakes.clock.stop_after_sleeps = sleeps;
  try {
    ScanAndAlert(state);
  } catch (const ProcessEnded&) {
  }
}

// Given three new events in one pass and none in the next, the output should
// be three blocks with both times, each followed by its program run, one
// empty line and the scanning line, then nothing; each alert should beep
// and each pass pause 3000 ms.
TEST(ScanLoopTest, PassOutput) {
  FakePlatform fakes;
  RunState state{fakes.platform};
  const char* argv[] = {"sentory", "/M0", "S1", "/SYS", "/R", "p"};
  state.options.ParseCommandLine(6, argv);
  ParseSeverities("EWISF", &state.severities);
  state.cursors.Reset(1);
  auto scan = [&](int sleeps) { ScanUntilSleeps(fakes, state, sleeps); };
  fakes.event_log.At("S1", "System");
  fakes.clock.now = kFriday;
  scan(1);  // first visit: nothing new
  for (std::uint32_t id : {1, 2, 3}) {
    EventFields fields;
    fields.event_id = id;
    fields.time = static_cast<std::uint32_t>(kFriday);
    fields.strings = {"s" + std::to_string(id)};
    fakes.event_log.Append("S1", "System", fields);
  }
  fakes.clock.now = kFriday + 5;
  scan(2);
  std::string blocks;
  for (int id = 1; id <= 3; ++id) {
    blocks +=
        "***Alert time: Fri Mar 05 09:07:03 1999  Event time: Fri Mar 05 "
        "09:06:58 1999\n SERVER1*Sys*ERR*Disk*" +
        std::to_string(id) + "*s" + std::to_string(id) + "\n Running: p\n";
  }
  EXPECT_EQ(fakes.console.console,
            "Scanning event logs (ctrl-c to quit)...\n" + blocks +
                "\nScanning event logs (ctrl-c to quit)...\n");
  EXPECT_EQ(fakes.process.command_lines.size(), 3u);
  EXPECT_EQ(fakes.clock.beeps,
            (decltype(fakes.clock.beeps)(3, std::make_pair(500u, 250u))));
  EXPECT_EQ(fakes.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

// Given paging, the loop should hang the line up at the end of every pass,
// before its pause, also after a pass without alerts, and try a page that
// cannot be sent again every 3000 ms.
TEST(ScanLoopTest, PagingHangsUpAfterEveryPassAndRetries) {
  FakePlatform fakes;
  ScriptedSerialLine& line = fakes.serial_ports;
  RunState state{fakes.platform};
  const char* argv[] = {"sentory", "/M0", "S1",  "/SYS", "/C",
                        "COM1",    "/PH", "555", "/P0",  "77"};
  state.options.ParseCommandLine(10, argv);
  ParseSeverities("E", &state.severities);
  state.cursors.Reset(1);
  state.modem = std::make_unique<ModemLink>(line, fakes.clock, "COM1");
  state.pager = std::make_unique<PagingDispatcher>(
      state.options, state.out, fakes.clock, *state.modem, state.page_rate);
  auto scan = [&](int sleeps) { ScanUntilSleeps(fakes, state, sleeps); };
  fakes.event_log.At("S1", "System");

  // A line left up is hung up by a pass that pages nothing.
  line.Answer({"OK", "CONNECT 9600"});
  ASSERT_EQ(state.modem->Connect("555"), 0);
  line.Answer({"OK", "OK"});
  scan(0);
  EXPECT_EQ(line.Count("> ath"), 1);
  EXPECT_EQ(state.modem->IsConnected(), 0);

  // A pass with an alert: dial, page, log off, hang up, then the pause.
  fakes.event_log.Append("S1", "System", EventFields());
  line.Answer(
      {"OK", "CONNECT 9600", "ID=", "\x06", "\x06", "\x1b\x04\r", "OK", "OK"});
  scan(0);
  EXPECT_NE(fakes.console.console.find(" Paged: 77\n"), std::string::npos)
      << fakes.console.console;
  EXPECT_EQ(line.Count("> ath"), 2);
  EXPECT_EQ(state.modem->IsConnected(), 0);

  // A terminal that cannot be reached: the same alert every 3000 ms.
  fakes.event_log.Append("S1", "System", EventFields());
  line.open_fails = true;
  const int opens = line.Count("open");
  scan(2);
  EXPECT_EQ(line.Count("open") - opens, 3);
  EXPECT_EQ(fakes.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

}  // namespace
}  // namespace sentory
