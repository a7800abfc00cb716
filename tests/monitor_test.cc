// The built program's start and end: usage, check lines, console control
// events, Ctrl-C in each of its waits, and a blackout under libfaketime.
#include <sys/ioctl.h>

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
// Waits for Ctrl-C; SERVER1's log stays empty.
const std::string kWatching = "/M0 server1 /SYS /S EW /R alert";
using StartupTest = SiteTest;

// Each bad command line: the banner, the usage or check lines, status 1
// (the check lines themselves: validate_test.cc).
TEST_F(StartupTest, UsageAndCheckLines) {
  At("SERVER1", true);
  const std::pair<std::string, std::string> cases[] = {
      {"", kUsage},
      {"/M0 a /SYS /S E /R p /?", kUsage},
      {"hello", "Error: Machine(s) must be specified using /M\n"},
      {kWatching + " /L missing/out.log",
       "Output written to missing/out.log. (ctrl-c to quit)...\n"
       "Could not open log file missing/out.log\n"},
  };
  for (const auto& [words, expected] : cases) {
    EXPECT_EQ(Run(SentoryCommand(Split(words))), 1) << words;
    EXPECT_EQ(out_, kBanner + expected);
  }
}

// Ctrl-C (also when ignored at start) and Ctrl-Break end with 0, others by
// their default, as Ctrl-C does when the control thread cannot start.
TEST_F(StartupTest, ConsoleControlSignals) {
  At("SERVER1", true);
  std::vector<std::pair<int, Words>> cases = {
      {SIGINT, {}}, {SIGINT, {"sh", "-c", "trap '' INT; exec \"$@\"", "sh"}}};
  if (!TestingWindowsBuild()) {  // Wine has no Ctrl-Break nor console to close
    cases.insert(cases.end(), {{SIGQUIT, {}},
                               {SIGTERM, {}},
                               {SIGHUP, {}},
                               {SIGINT, {"prlimit", "--as=10000000"}}});
  }
  for (const auto& [signal_number, starter] : cases) {
    SCOPED_TRACE(signal_number + 100 * starter.size());
    ChildProcess monitor;
    ASSERT_TRUE(Start(monitor, kWatching, starter));
    const bool by_default = signal_number == SIGTERM ||
                            signal_number == SIGHUP || starter.size() == 2;
    EXPECT_EQ(monitor.Stop(signal_number),
              by_default ? 128 + signal_number : 0);
    EXPECT_EQ(monitor.Output(), kBanner + std::string(kScanning));
    EXPECT_EQ(monitor.Errors(), "");
  }
}

// An event written a few seconds before a blackout ends is alerted after it.
TEST_F(StartupTest, EventWaitsForTheEndOfTheBlackout) {
  const std::string faketime =
      "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  if (TestingWindowsBuild() || !fs::exists(faketime)) {
    GTEST_SKIP() << "libfaketime is for Linux programs, and installed";
  }
  At("DEMO", true);
  env_.insert(env_.end(),
              {"LD_PRELOAD=" + faketime, "FAKETIME=@2026-12-07 02:59:56"});
  ASSERT_TRUE(Start(monitor_, "/M0 DEMO /SYS /S E /R true /B0 2-3", {},
                    "Blackout in effect from 2:00 to 3:00\n"));
  Write("DEMO System --source Disk --id 7 --type error late");
  ASSERT_TRUE(monitor_.WaitForOutput("DEMO*Sys*ERR*Disk*7*late\n"));
  EXPECT_EQ(monitor_.Stop(SIGINT), 0);
  EXPECT_EQ(CountOf(monitor_.Output(), "***Alert time: Mon Dec 07 03:00:"), 1);
  EXPECT_EQ(CountOf(monitor_.Output(), "Blackout in effect"), 1);
}

using CtrlCTest = SiteTest;

// Ctrl-C in each wait (after the tone, in the alert program, dialling, in a
// call) ends the monitor at once with 0, every line before it kept.
TEST_F(CtrlCTest, EndsEveryWait) {
  // An hour east of UTC (the Windows runtime reads TZ without zone names).
  env_.insert(env_.end(),
              {"SENTORY_RECORD_ARGS_DELAY_MS=30000",
               TestingWindowsBuild() ? "TZ=CET-1" : "TZ=Europe/Berlin"});
  const std::pair<std::string, const char*> cases[] = {
      {"", "DEMO*Sys*ERR*Disk*1*x\n"},
      {"", " Running: "},
      {"--connect-delay 60000", "DEMO*Sys*ERR*Disk*1*x"},
      {"--silent-terminal", "DEMO*Sys*ERR*Disk*1*x"},
  };
  for (const auto& [terminal_options, last_line] : cases) {
    SCOPED_TRACE(last_line + terminal_options);
    fs::remove_all(At("DEMO"));
    At("DEMO", true);
    ChildProcess terminal, monitor;
    const bool paging = !terminal_options.empty();
    ASSERT_TRUE(!paging || StartTerminal(terminal, terminal_options));
    ASSERT_TRUE(Start(monitor,
                      "/M0 DEMO /SYS /S E " +
                          (paging ? "/C COM1 /PH 1 /P0 2" : "/R " + program_)));
    Write("DEMO System --source Disk --id 1 --type error --time 920624818 x");
    ASSERT_TRUE(monitor.WaitForOutput(last_line, 20)) << monitor.Output();
    // The 250 ms tone follows the block at once: Ctrl-C lands in it, and its
    // end may print the next line before; the other waits are long.
    const bool tone = last_line[0] == 'D' && !paging;
    if (!tone) sleep(1);
    std::string before = monitor.Output();
    EXPECT_EQ(monitor.Stop(SIGINT, 5), 0);
    std::string output = monitor.Output();
    EXPECT_EQ(tone ? output.substr(0, before.size()) : output, before);
    EXPECT_EQ(CountOf(output, "Paged:"), 0) << output;
    // Written at 09:06:58 UTC, an hour behind Berlin in March.
    EXPECT_EQ(CountOf(output, "  Event time: Fri Mar 05 10:06:58 1999\n"), 1);
    StopTerminal(terminal);  // under Wine, also ends a waiting program
  }
}

// Ctrl-C ends the monitor while it is blocked writing to a full FIFO.
TEST_F(CtrlCTest, EndsWhileAWriteIsBlocked) {
  At("DEMO", true);
  ASSERT_EQ(mkfifo(At("out.fifo").c_str(), 0600), 0);
  // Held open so the monitor's writes block rather than fail; never read.
  int reader = open(At("out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  auto holds = [reader](int bytes) {
    int held = 0;
    for (int i = 0; i < 1500 && held < bytes; ++i) {
      usleep(20000);
      ioctl(reader, FIONREAD, &held);
    }
    return held >= bytes;
  };
  monitor_.output_to = At("out.fifo");
  ASSERT_TRUE(monitor_.Start(
      SentoryCommand(Split("/M0 DEMO /SYS /S E /R " + program_)), env_, site_));
  ASSERT_TRUE(holds(sizeof(kBanner) + sizeof(kScanning) - 2));
  sleep(1);
  for (int i = 0; i < 3; ++i) {
    Write("DEMO System --source Disk --id 1 --type error",
          {std::string(30000, 'x')});
  }
  // Full, up to what partly filled pages leave free, with alerts to write.
  ASSERT_TRUE(holds(fcntl(reader, F_GETPIPE_SZ) - 4 * 4096));
  sleep(2);
  EXPECT_EQ(monitor_.Stop(SIGINT), 0);
  close(reader);
}

}  // namespace
}  // namespace sentory
