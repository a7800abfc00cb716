#include "app/scan_loop.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/shutdown.h"
#include "app/startup.h"
#include "app/time_text.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

constexpr std::int64_t kFriday = 920624818;  // Fri Mar 05 09:06:58 1999 UTC

// A clock whose local time is whatever the test sets.
class CalendarClock : public FakeClock {
 public:
  bool ToLocalTime(std::int64_t, CalendarTime* out) override {
    *out = local;
    return converts;
  }
  CalendarTime local;
  bool converts = true;
};

// 24 characters; question marks where the clock fails or a field is out of
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

class ScanLoopTest : public testing::Test {
 protected:
  void Options(const std::string& words) {
    ParseWords(&state_.options, "/M0 S1 /SYS " + words);
    ParseSeverities("E", &state_.severities);
    fakes_.event_log.At("S1", "System");
    state_.cursors.Reset(1);
  }
  // Runs the loop from a clear console and clock until a pause ends it.
  void Scan(int sleeps) {
    fakes_.console.console.clear();
    fakes_.clock.sleeps.clear();
    fakes_.clock.stop_after_sleeps = sleeps;
    EXPECT_THROW(ScanAndAlert(state_), ProcessEnded);
  }
  FakePlatform fakes_;
  RunState state_{fakes_.platform};
};

// Three new events in one pass, none in the next: three blocks with both
// times and the program run, an empty line, the scanning line; a tone per
// alert, 3000 ms per pass.
TEST_F(ScanLoopTest, PassOutput) {
  Options("/R p");
  fakes_.clock.now = kFriday;
  Scan(1);  // first visit: nothing new
  std::string blocks;
  EventFields fields;
  fields.time = static_cast<std::uint32_t>(kFriday);
  for (std::uint32_t id : {1, 2, 3}) {
    fields.event_id = id;
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

// Paging: the line is hung up at the end of every pass, also one without
// alerts, and a page that cannot be sent is tried again every 3000 ms.
TEST_F(ScanLoopTest, PagingHangsUpAfterEveryPassAndRetries) {
  Options("/C COM1 /PH 555 /P0 77");
  ScriptedSerialLine& line = fakes_.serial_ports;
  state_.modem = std::make_unique<ModemLink>(line, fakes_.clock, "COM1");
  state_.pager = std::make_unique<PagingDispatcher>(state_.options, state_.out,
                                                    fakes_.clock, *state_.modem,
                                                    state_.page_rate);

  line.Answer({"OK", "CONNECT 9600"});
  ASSERT_EQ(state_.modem->Connect("555"), 0);
  line.Answer({"OK", "OK"});
  Scan(0);
  EXPECT_EQ(line.Count("> ath"), 1);
  EXPECT_EQ(state_.modem->IsConnected(), 0);

  fakes_.event_log.Append("S1", "System", EventFields());
  line.Answer(
      {"OK", "CONNECT 9600", "ID=", "\x06", "\x06", "\x1b\x04\r", "OK", "OK"});
  Scan(0);
  EXPECT_NE(fakes_.console.console.find(" Paged: 77\n"), std::string::npos)
      << fakes_.console.console;
  EXPECT_EQ(line.Count("> ath"), 2);
  EXPECT_EQ(state_.modem->IsConnected(), 0);

  fakes_.event_log.Append("S1", "System", EventFields());
  line.open_fails = true;
  const int opens = line.Count("open");
  Scan(2);
  EXPECT_EQ(line.Count("open") - opens, 3);
  EXPECT_EQ(fakes_.clock.sleeps, (std::vector<std::uint32_t>{3000, 3000}));
}

// The status |step| ends the process with; -2 when it returns.
int Status(const std::function<void()>& step) {
  try {
    step();
  } catch (const ProcessEnded& ended) {
    return ended.status;
  }
  return -2;
}

class ShutdownTest : public testing::Test {
 protected:
  ~ShutdownTest() override { std::set_new_handler(nullptr); }
  // Runs the program with |words| until it first sleeps.
  void Start(std::vector<const char*> words) {
    words.insert(words.begin(), "sentory");
    fakes_.clock.stop_after_sleeps = 0;
    EXPECT_EQ(Status([&] {
                RunSentory(state_, static_cast<int>(words.size()),
                           words.data());
              }),
              -1);
  }
  FakePlatform fakes_;
  FakeConsole& console_ = fakes_.console;
  RunState state_{fakes_.platform};
};

// Out of memory: the message on a line of its own in the log file, which is
// closed, and status 1.
TEST_F(ShutdownTest, FailedAllocationEndsTheRun) {
  Start({"/M0", "a", "/SYS", "/S", "E", "/R", "p", "/L", "x.log"});
  std::new_handler handler = std::get_new_handler();
  ASSERT_EQ(handler, &OnOutOfMemory);
  EXPECT_EQ(Status(handler), 1);
  EXPECT_TRUE(console_.output_closed);
  EXPECT_EQ(console_.log, std::string(kBanner) + "\n" +
                              "Scanning event logs (ctrl-c to quit)...\n"
                              "Unable to open System log on a\n"
                              "\nError: Memory Allocation failed.\n\n");
  EXPECT_EQ(console_.exits, std::vector<int>{1});
}

// Ctrl-C and Ctrl-Break end at once with 0, print nothing and release nothing
// the main thread may be using; other events are left to the platform.
TEST_F(ShutdownTest, ConsoleControlEvents) {
  fakes_.files.files["skip.txt"] = "7 Disk\n";
  Start({"/M0", "a", "/SYS", "/S", "E", "/SK", "skip.txt", "/C", "COM1", "/PH",
         "1", "/P0", "2"});
  ASSERT_NE(console_.handler, nullptr);
  EXPECT_FALSE(console_.handler(Console::Control::kOther));
  EXPECT_TRUE(console_.exits.empty());
  const std::string before = console_.console;
  for (auto event : {Console::Control::kCtrlC, Console::Control::kCtrlBreak}) {
    InstallShutdownRecord(&state_);
    EXPECT_EQ(Status([&] { console_.handler(event); }), 0);
    EXPECT_TRUE(console_.exited_at_once && !console_.output_closed);
    EXPECT_EQ(console_.console, before);
    EXPECT_TRUE(state_.pager && state_.modem && state_.skip_text);
  }
}

}  // namespace
}  // namespace sentory
