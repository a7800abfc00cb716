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

// Given times in and out of the clock's range, the text should always be 24
// characters in local time.
TEST(TimeTextTest, Format) {
  FakeClock clock;
  EXPECT_EQ(TimeText(clock, kFriday), "Fri Mar 05 09:06:58 1999");
  EXPECT_EQ(TimeText(clock, 0), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(TimeText(clock, 2147483648), "Tue Jan 19 03:14:08 2038");
  EXPECT_EQ(TimeText(clock, 4294967295), "Sun Feb 07 06:28:15 2106");
  clock.utc_offset = -10 * 3600;  // a zone west of UTC
  EXPECT_EQ(TimeText(clock, kFriday), "Thu Mar 04 23:06:58 1999");
  EXPECT_EQ(TimeText(clock, 300000000000000), "??? ??? ?? ??:??:?? ????");
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
  auto scan = [&](int sleeps) {
    fakes.console.console.clear();
    fakes.clock.sleeps.clear();
    fakes.clock.stop_after_sleeps = sleeps;
    try {
      ScanAndAlert(state);
    } catch (const ProcessEnded&) {
    }
  };
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
  auto scan = [&](int sleeps) {
    fakes.console.console.clear();
    fakes.clock.sleeps.clear();
    fakes.clock.stop_after_sleeps = sleeps;
    try {
      ScanAndAlert(state);
    } catch (const ProcessEnded&) {
    }
  };
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
