// The built program's start and end: banner, usage, the check lines, the log
// file, the console control events, Ctrl-C in each of its waits, and a
// blackout with the clock moved by libfaketime.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/child_process.h"

namespace sentory {
namespace {
const char kUsage[] =
    "Usage: Sentory [/Mn machine_name] [/SYS][/APP][/SEC] [/S EWISF] [/SK "
    "skip_file]\n               [/C COMx,baud,bits,parity,stop] [/PH phone#] "
    "[/Pn pager_pin]\n               [/MAX pages/secs] [/R program] [/Bn "
    "start_hour-end_hour]\n               [/L log_file] [/D] \n"
    " /Mn    List of computers to monitor. Specify multiple where n=0 to 31\n"
    " /SYS   Monitor System log\n /APP   Monitor Application log\n"
    " /SEC   Monitor Security log\n"
    " /S     Event severities (error, warning, information, success, "
    "failure)\n"
    " /SK    Skip file. Each line lists Event ID and Source of event to skip\n"
    " /C     Com port parameters for paging modem\n"
    " /PH    Phone number of paging terminal\n"
    " /Pn    Pager pin number. Specify multiple where n=0 to n\n"
    " /MAX   Maximum page rate to prevent pager terminal overload (default "
    "5/60)\n"
    " /R     Program to run for each alert (parms: 1-event time, 2-message)\n"
    " /Bn    Blackout periods(hours 0 to 23). Specify multiple where n=0 to "
    "n\n /L     Log file\n /D     Output TAP protocol debug info\n";

// A valid command line whose program waits for Ctrl-C. The machine's folder
// is empty, so its log never has a record.
Words Watching(Words extra) {
  Words words = {"/M0", "server1", "/SYS", "/S", "EW", "/R", "alert"};
  words.insert(words.end(), extra.begin(), extra.end());
  return words;
}

using StartupTest = SiteTest;

// Given each command line, the program should print the banner and exactly
// the usage or its check lines, and end with status 1.
TEST_F(StartupTest, UsageAndCheckLines) {
  At("SERVER1", true);
  const struct {
    Words words;
    std::string expected;  // standard output after the banner
  } cases[] = {
      {{}, kUsage},
      {{"/M0", "a", "/SYS", "/S", "E", "/R", "p", "/?"}, kUsage},
      {{"hello"}, "Error: Machine(s) must be specified using /M\n"},
      {{"/m0", "a", "/r", "p"},
       "Error: Log options must be specified using /APP, /SYS or /SEC\n"},
      {{"/M0", "a", "/APP", "/S", "i"},
       "Error: Alert method must be specified- /C for paging or /R for "
       "program.\n"},
      {{"/M0", "a", "/APP", "/S", "i", "/R", "p", "/B0", "24-6"},
       "Error: Specify blackout period hours from 0 to 23.\n"},
      {{"/M0", "a", "/APP", "/S", "i", "/R", "p", "/L"},
       "Error: Output log file must be specified using /L\n"},
      {Watching({"/L", "missing/out.log"}),
       "Output written to missing/out.log. (ctrl-c to quit)...\n"
       "Could not open log file missing/out.log\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string output;
    EXPECT_EQ(RunToEnd(SentoryCommand(c.words), &output, env_, site_), 1);
    EXPECT_EQ(output, kBanner + c.expected);
  }
}

// Given each signal while the program waits, it should end as the console
// control rules say: Ctrl-C and Ctrl-Break with 0, others by their default.
TEST_F(StartupTest, ConsoleControlSignals) {
  At("SERVER1", true);
  struct Case {
    int signal_number;
    int status;     // expected exit status
    Words starter;  // run before the program, if any
  };
  // The second as a shell script starts a program in the background.
  std::vector<Case> cases = {
      {SIGINT, 0, {}},
      {SIGINT, 0, {"sh", "-c", "trap '' INT; exec \"$@\"", "sh"}}};
  if (!TestingWindowsBuild()) {
    // Wine cannot produce Ctrl-Break, and closing the console is Windows'
    // own business. Too little memory for the control thread's stack: the
    // program runs on, and Ctrl-C ends it by the signal's default action.
    cases.insert(cases.end(),
                 {{SIGQUIT, 0, {}},
                  {SIGTERM, 128 + SIGTERM, {}},
                  {SIGHUP, 128 + SIGHUP, {}},
                  {SIGINT, 128 + SIGINT, {"prlimit", "--as=10000000"}}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.signal_number << " " << c.starter.size());
    ChildProcess monitor;
    ASSERT_TRUE(Start(monitor, Watching({}), c.starter));
    EXPECT_EQ(monitor.Stop(c.signal_number), c.status);
    EXPECT_EQ(monitor.Output(), kBanner + std::string(kScanning));
    EXPECT_EQ(monitor.Errors(), "");
  }
}

using BlackoutEndToEndTest = SiteTest;

// Given a start a few seconds before a blackout ends and an event written
// at once, the event should be alerted only after the notice's period.
TEST_F(BlackoutEndToEndTest, EventWaitsForTheEndOfTheBlackout) {
  // Preloaded directly, so that Ctrl-C reaches the program itself.
  const std::string library =
      "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  if (TestingWindowsBuild() || !std::filesystem::exists(library)) {
    GTEST_SKIP() << "libfaketime is for Linux programs, and installed";
  }
  At("DEMO", true);
  ChildProcess& m = monitor_;
  m.Start(SentoryCommand(
              {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "true", "/B0", "2-3"}),
          {env_[0], "TZ=UTC", "LD_PRELOAD=" + library,
           "FAKETIME=@2026-12-07 02:59:56"},
          site_);
  ASSERT_TRUE(m.WaitForOutput("Blackout in effect from 2:00 to 3:00\n"));
  Write("DEMO System --source Disk --id 7 --type error late");
  ASSERT_TRUE(m.WaitForOutput("DEMO*Sys*ERR*Disk*7*late\n")) << m.Output();
  EXPECT_EQ(m.Stop(SIGINT), 0);
  std::string output = m.Output();
  std::size_t notice = output.find("Blackout in effect");
  std::size_t alert = output.find("***Alert time: Mon Dec 07 03:00:");
  EXPECT_NE(alert, std::string::npos) << output;
  EXPECT_LT(notice, alert);
  EXPECT_EQ(output.find("Blackout in effect", notice + 1), std::string::npos);
}

using CtrlCTest = SiteTest;

// Given the monitor waiting in each place (its pause: ConsoleControlSignals),
// Ctrl-C should end it at once with status 0, every line before it kept.
TEST_F(CtrlCTest, EndsEveryWait) {
  // A zone an hour east of UTC, so local time is seen to be local. The
  // Windows runtime reads TZ in its own form, without zone names.
  env_.insert(env_.end(),
              {"SENTORY_RECORD_ARGS_DELAY_MS=30000",
               TestingWindowsBuild() ? "TZ=CET-1" : "TZ=Europe/Berlin"});
  const struct {
    Words terminal;         // tap-terminal options; none: "/R"
    const char* last_line;  // written before the wait begins
    int settle_ms;          // from that line to Ctrl-C
  } cases[] = {
      // The 250 ms tone follows the block at once, before the program.
      {{}, "DEMO*Sys*ERR*Disk*1*x\n", 0},
      {{}, " Running: ", 1000},
      {{"--connect-delay", "60000"}, "DEMO*Sys*ERR*Disk*1*x", 1000},
      {{"--silent-terminal"}, "DEMO*Sys*ERR*Disk*1*x", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last_line + std::to_string(c.terminal.size()));
    std::filesystem::remove_all(At("DEMO"));
    At("DEMO", true);
    ChildProcess terminal, monitor;
    Words words = {"/M0", "DEMO", "/SYS", "/S", "E", "/R", program_};
    if (!c.terminal.empty()) {
      ASSERT_TRUE(StartTerminal(terminal, c.terminal));
      words.erase(words.end() - 2, words.end());
      words.insert(words.end(), {"/C", "COM1", "/PH", "1", "/P0", "2"});
    }
    ASSERT_TRUE(Start(monitor, words));
    Write("DEMO System --source Disk --id 1 --type error --time 920624818 x");
    ASSERT_TRUE(monitor.WaitForOutput(c.last_line, 20)) << monitor.Output();
    usleep(c.settle_ms * 1000);  // well inside the wait
    std::string before = monitor.Output();
    EXPECT_EQ(monitor.Stop(SIGINT, 5), 0);
    std::string output = monitor.Output();
    // Deep inside a long wait nothing is lost and nothing added; the tone's
    // end may print the next line before the signal lands.
    EXPECT_EQ(c.settle_ms > 0 ? output : output.substr(0, before.size()),
              before);
    EXPECT_EQ(output.find("Paged:"), std::string::npos) << output;
    // Written at 09:06:58 UTC, an hour behind Berlin in March.
    EXPECT_EQ(CountOf(output, "  Event time: Fri Mar 05 10:06:58 1999\n"), 1)
        << output;
    StopTerminal(terminal);  // under Wine, also ends a waiting program
  }
}

// Given standard output on a FIFO nobody reads and alerts enough to fill it,
// so that the monitor is blocked in a write, Ctrl-C should still end it
// with status 0 within 2 s.
TEST_F(CtrlCTest, EndsWhileAWriteIsBlocked) {
  At("DEMO", true);
  ASSERT_EQ(mkfifo(At("out.fifo").c_str(), 0600), 0);
  // Held open so the monitor's writes block rather than fail; never read.
  int reader = open(At("out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto waiting = [reader] {
    int bytes = 0;
    ioctl(reader, FIONREAD, &bytes);
    return bytes;
  };
  auto wait_for = [&](int bytes) {
    for (int i = 0; i < 1500 && waiting() < bytes; ++i) usleep(20000);
    return waiting() >= bytes;
  };
  monitor_.SendOutputTo(At("out.fifo"));
  ASSERT_TRUE(monitor_.Start(
      SentoryCommand({"/M0", "DEMO", "/SYS", "/S", "E", "/R", program_}), env_,
      site_));
  // The banner and the scanning line are in the FIFO.
  ASSERT_TRUE(wait_for(sizeof(kBanner) + sizeof(kScanning) - 2));
  sleep(1);
  for (int i = 0; i < 3; ++i) {
    Write("DEMO System --source Disk --id 1 --type error",
          {std::string(30000, 'x')});
  }
  // Full, up to what partly filled pages leave free, and no longer growing:
  // the monitor is blocked with the rest of its alerts still to write.
  ASSERT_TRUE(wait_for(fcntl(reader, F_GETPIPE_SZ) - 4 * 4096));
  int seen = 0;
  for (int i = 0; i < 60 && seen != waiting(); ++i) {
    seen = waiting();
    usleep(500000);
  }
  ASSERT_EQ(seen, waiting());
  EXPECT_EQ(monitor_.Stop(SIGINT, 2), 0);
  close(reader);
}

}  // namespace
}  // namespace sentory
