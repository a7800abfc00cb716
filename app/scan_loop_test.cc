#include "app/scan_loop.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(TimeText(clock, 944416861), "Sun Dec 05 18:01:01 1999");
  EXPECT_EQ(TimeText(clock, 0), "Thu Jan 01 00:00:00 1970");
  EXPECT_EQ(TimeText(clock, 2147483648), "Tue Jan 19 03:14:08 2038");
  EXPECT_EQ(TimeText(clock, 4294967295), "Sun Feb 07 06:28:15 2106");
  clock.utc_offset = -10 * 3600;  // a zone west of UTC
  EXPECT_EQ(TimeText(clock, kFriday), "Thu Mar 04 23:06:58 1999");
  EXPECT_EQ(TimeText(clock, 300000000000000), "??? ??? ?? ??:??:?? ????");
}

class ScanLoopTest : public testing::Test {
 protected:
  // Runs the loop for |passes| passes on the command line |words|.
  void Run(std::vector<const char*> words, int passes) {
    words.insert(words.begin(), "sentory");
    words_ = words;
    state_.options.ParseCommandLine(static_cast<int>(words_.size()),
                                    words_.data());
    ParseSeverities("EWISF", &state_.severities);
    state_.cursors.Reset(2);
    fakes_.clock.stop_after_sleeps = passes;
    try {
      ScanAndAlert(state_);
    } catch (const ProcessEnded&) {
    }
  }

  FakePlatform fakes_;
  RunState state_{fakes_.platform};
  std::vector<const char*> words_;
};

// Given three new events in one pass and none in the next, the output should
// be three blocks with both times, each followed by its program run, one
// empty line and the scanning line, then nothing; each alert should beep
// and each pass pause 3000 ms.
TEST_F(ScanLoopTest, PassOutput) {
  FakeEventLog& log = fakes_.event_log;
  log.At("S1", "System");
  fakes_.clock.now = kFriday;
  Run({"/M0", "S1", "/SYS", "/R", "p"}, 1);  // first visit: nothing new
  for (std::uint32_t id : {1, 2, 3}) {
    EventFields fields;
    fields.event_id = id;
    fields.time = static_cast<std::uint32_t>(kFriday);
    fields.strings = {"s" + std::to_string(id)};
    log.Append("S1", "System", fields);
  }
  fakes_.clock.now = kFriday + 5;
  fakes_.console.console.clear();
  fakes_.clock.sleeps.clear();
  fakes_.clock.stop_after_sleeps = 2;
  try {
    ScanAndAlert(state_);
  } catch (const ProcessEnded&) {
  }
  std::string block;
  for (int id = 1; id <= 3; ++id) {
    block +=
        "***Alert time: Fri Mar 05 09:07:03 1999  Event time: Fri Mar 05 "
        "09:06:58 1999\n SERVER1*Sys*ERR*Disk*" +
        std::to_string(id) + "*s" + std::to_string(id) + "\n Running: p\n";
  }
  EXPECT_EQ(fakes_.console.console,
            "Scanning event logs (ctrl-c to quit)...\n" + block +
                "\nScanning event logs (ctrl-c to quit)...\n");
  ASSERT_EQ(fakes_.process.command_lines.size(), 3u);
  EXPECT_EQ(fakes_.process.command_lines[0],
            "p \"Fri Mar 05 09:06:58 1999\" \"SERVER1*Sys*ERR*Disk*1*s1\"");
  EXPECT_EQ(fakes_.clock.beeps.size(), 3u);
  EXPECT_EQ(fakes_.clock.beeps[0], std::make_pair(500u, 250u));
  EXPECT_EQ(fakes_.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

// Given events that fail the filter, the pass should print nothing.
TEST_F(ScanLoopTest, FilteredEventsPrintNothing) {
  fakes_.event_log.At("S1", "Application");
  state_.severities.slot[0] = 1;
  Run({"/M0", "S1", "/APP", "/R", "p"}, 1);
  EventFields warning;
  warning.type = 2;
  fakes_.event_log.Append("S1", "Application", warning);
  state_.severities = SeveritySlots();
  state_.severities.slot[0] = 1;
  state_.severities.slot[1] = 4;
  state_.severities.slot[2] = 8;
  state_.severities.slot[3] = 16;
  state_.severities.slot[4] = 1;
  fakes_.console.console.clear();
  fakes_.clock.stop_after_sleeps = 1;
  fakes_.clock.sleeps.clear();
  try {
    ScanAndAlert(state_);
  } catch (const ProcessEnded&) {
  }
  EXPECT_EQ(fakes_.console.console,
            "Scanning event logs (ctrl-c to quit)...\n");
  EXPECT_TRUE(fakes_.clock.beeps.empty());
}

}  // namespace
}  // namespace sentory
