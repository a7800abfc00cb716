// The built program watching a site written with sentory-eventlog, and
// paging through tap-terminal (a modem and paging terminal on a
// pseudo-terminal linked as the site's COM1).
#include "tests/child_process.h"

namespace sentory {
namespace {
using WatchTest = SiteTest;

// Three machines (the last without a folder), all logs, "/L": the lines
// after "Output written to" go on the file after an earlier run's, and
// events written between two visits come in the order of the visits.
TEST_F(WatchTest, SeveralMachinesAllLogsInOrderIntoTheLogFile) {
  At("DEMO", true);
  At("OTHER", true);
  std::ofstream(At("out.log")) << "an earlier run\n";
  ASSERT_TRUE(Start(monitor_,
                    "/M0 DEMO /M1 OTHER /M2 GONE /APP /SEC /SYS /S EWISF /R " +
                        program_ + " /L out.log",
                    {}, "quit)..."));
  // The last visit of a round, 3 s before the next.
  const std::string last = "Unable to open Application log on GONE\n";
  auto file = [this] { return ReadFileText(At("out.log")); };
  ASSERT_TRUE(WaitFor(file, last, 60));
  for (const char* event :
       {"OTHER Application --type error o-app",
        "DEMO Security --type success d-sec",
        "OTHER System --type warning o-sys", "DEMO System --type error d-sys-1",
        "OTHER Security --type failure o-sec",
        "DEMO Application --type information d-app",
        "DEMO System --type warning d-sys-2"}) {
    Write(event + std::string(" --source Src --id 3"));
  }
  ASSERT_TRUE(WaitFor(file, last, 60, 2));
  EXPECT_EQ(monitor_.Stop(SIGINT), 0);
  EXPECT_EQ(monitor_.Output(),
            kBanner + std::string("Output written to out.log. (ctrl-c to "
                                  "quit)...\n"));
  std::string log = file();
  EXPECT_EQ(log.rfind("an earlier run\n" + std::string(kBanner) + kScanning, 0),
            0u);
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  EXPECT_EQ(Alerts(log),
            (Words{"DEMO*Sys*ERR*Src*3*d-sys-1", "DEMO*Sys*WARN*Src*3*d-sys-2",
                   "DEMO*Sec*SCSS*Src*3*d-sec", "DEMO*App*INFO*Src*3*d-app",
                   "OTHER*Sys*WARN*Src*3*o-sys", "OTHER*Sec*FAIL*Src*3*o-sec",
                   "OTHER*App*ERR*Src*3*o-app"}));
  EXPECT_EQ(CountOf(log, "\n Running: " + program_ + "\n"), 7);
  EXPECT_EQ(CountOf(log, " log on GONE\n"), 3 * CountOf(log, last));
}

// Two monitors with skip files of their own alert the new events that pass
// their file and "/S", and after a clear the new log's. Under Wine a third
// process holds the first file under the mapping name once shared by all.
TEST_F(WatchTest, TwoMonitorsAlertNewEventsSkippingByTheirOwnFile) {
  std::ofstream long_file(At("long.txt"));
  long_file << "18 Disk\r\n";
  for (int n = 0; n < 4000; ++n) long_file << "99 Padding " << n << "\r\n";
  long_file.close();
  std::ofstream(At("short.txt")) << "17 Tape\n";
  Write("DEMO System --source Disk --id 9 --type error old");
  ChildProcess holder, second;
  if (TestingWindowsBuild()) {
    Words hold = SentoryCommand(Split("long.txt EventSkipList"));
    hold[1] = fs::path(Variable("SENTORY_RECORD_ARGS_EXE"))
                  .replace_filename("hold_mapping.exe");
    ASSERT_TRUE(holder.Start(hold, env_, site_));
    ASSERT_TRUE(holder.WaitForOutput("holding")) << holder.Errors();
  }
  const std::string words = "/M0 demo /SYS /APP /S EW /R " + program_ + " /SK ";
  ASSERT_TRUE(Start(monitor_, words + "long.txt"));
  ASSERT_TRUE(Start(second, words + "short.txt"));
  sleep(3);  // both pairs are visited once before any new event
  for (const char* event :
       {"System --source Tape --id 17 --type warning t",
        "System --source Disk --id 18 --type error a b",
        "Application --source App --id 5 --type information no",
        "Application --source App --id 0xC0000006 --type warning --computer "
        "ELSEWHERE x"}) {
    Write("DEMO " + std::string(event));
  }
  for (ChildProcess* monitor : {&monitor_, &second}) {
    ASSERT_TRUE(monitor->WaitForOutput("ELSEWHERE*App*WARN*App*6*x\n", 20));
  }
  ASSERT_EQ(Tool("clear DEMO System"), 0) << err_;
  Write("DEMO System --source Disk --id 12 --type error after clear");
  int n = 0;
  for (ChildProcess* monitor : {&monitor_, &second}) {
    EXPECT_TRUE(monitor->WaitForOutput("DEMO*Sys*ERR*Disk*12*after|clear\n"));
    EXPECT_TRUE(monitor->WaitForOutput(" Running: " + program_ + "\n", 30, 3));
    EXPECT_EQ(monitor->Stop(SIGINT), 0);
    EXPECT_EQ(
        Alerts(monitor->Output()),
        (Words{n++ ? "DEMO*Sys*ERR*Disk*18*a|b" : "DEMO*Sys*WARN*Tape*17*t",
               "ELSEWHERE*App*WARN*App*6*x",
               "DEMO*Sys*ERR*Disk*12*after|clear"}));
    EXPECT_EQ(CountOf(monitor->Output(), " Running: "), 3);
  }
}

using PagingTest = SiteTest;

// One alert, two PINs: the program gets the text, each PIN a page, also
// after busy dials (reported once); a page NAKed four times is given up.
TEST_F(PagingTest, EveryAlertPagedToEachPin) {
  const bool with_message = InstallMessageFile();  // for event 1, on Linux
  At("DEMO", true);
  const std::string error = " Error connecting to 5551234 on com1,9600,8,n,1\n";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"", 1, " Paged: 1234 5678\n"},
      {"--busy --failing-dials 2", 12, error + " Paged: 1234 5678\n"},
      {"--nak-block 4", 12, " Paged: 1234(error) 5678\n"},
  };
  for (const auto& [options, id, report] : cases) {
    SCOPED_TRACE(options);
    ChildProcess terminal, monitor;
    ASSERT_TRUE(StartTerminal(terminal, options));
    ASSERT_TRUE(Start(monitor,
                      "/M0 DEMO /SYS /S E /C com1,9600,8,n,1 /PH "
                      "5551234 /P0 1234 /P1 5678 /R " +
                          program_));
    const std::string text =
        "DEMO*Sys*ERR*Disk*" + std::to_string(id) +
        (id == 1 && with_message ? "*Inserts disk, full and now. "
                                 : "*disk|full|now");
    Write("DEMO System --source Disk --type error --time 920624818 --id " +
          std::to_string(id) + " disk full now");
    ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs", 120, 2));
    EXPECT_EQ(monitor.Stop(SIGINT), 0);
    EXPECT_EQ(StopTerminal(terminal), 0);
    EXPECT_EQ(terminal.Output(),
              (CountOf(report, "(error)") ? "" : "PAGE 1234 " + text + "\n") +
                  "PAGE 5678 " + text + "\n");
    EXPECT_EQ(CountOf(monitor.Output(), error), CountOf(report, error));
    EXPECT_EQ(CountOf(monitor.Output(),
                      text + "\n Running: " + program_ + "\n" + report),
              1)
        << monitor.Output();
    EXPECT_EQ(ReadFileText(At("runs.txt")),
              "2\nFri Mar 05 09:06:58 1999\n" + text + "\n");
    fs::remove(At("runs.txt"));
  }
}

// "/D" traces a page and the logoff as the README's example shows them.
TEST_F(PagingTest, TraceIsTheReadmeExample) {
  const std::string readme =
      ReadFileText(fs::path(__FILE__).parent_path() / "../README.md");
  const std::size_t start = readme.find("```\n Paged: 1234\n") + 4;
  ASSERT_NE(readme.find("```\n", start), std::string::npos);
  At("SERVER1", true);
  ChildProcess terminal;
  ASSERT_TRUE(StartTerminal(terminal));
  ASSERT_TRUE(
      Start(monitor_, "/M0 SERVER1 /SYS /S W /C COM1 /PH 5551234 /P0 1234 /D"));
  Write("SERVER1 System --source Disk --id 11 --type warning", {"bad block"});
  EXPECT_TRUE(monitor_.WaitForOutput(
      readme.substr(start, readme.find("```\n", start) - start)))
      << monitor_.Output();
  EXPECT_EQ(monitor_.Stop(SIGINT), 0);
  EXPECT_EQ(StopTerminal(terminal), 0);
}

// A monitor stopped mid-dial leaves the port usable by an ordinary user's.
TEST_F(PagingTest, PortLeftUsableByAMonitorStoppedMidDial) {
  if (TestingWindowsBuild() || geteuid() != 0) GTEST_SKIP() << "Linux, root";
  At("DEMO", true);
  ChildProcess terminal, first;
  ASSERT_TRUE(StartTerminal(terminal, "--connect-delay 1000 --verbose"));
  ASSERT_EQ(chmod(site_.c_str(), 0755), 0);
  ASSERT_EQ(chmod(fs::canonical(At("dev/com1")).c_str(), 0666), 0);
  const char words[] = "/M0 DEMO /SYS /S E /C com1 /PH 1 /P0 1234";
  ASSERT_TRUE(Start(first, words));
  Write("DEMO System --source Disk --id 12 --type error x");
  ASSERT_TRUE(WaitFor([&] { return terminal.Errors(); }, "atdt"));
  EXPECT_EQ(first.Stop(SIGINT), 0);
  ASSERT_TRUE(
      Start(monitor_, words,
            Split("setpriv --reuid=65534 --regid=65534 --clear-groups")));
  Write("DEMO System --source Disk --id 12 --type error x");
  EXPECT_TRUE(monitor_.WaitForOutput(" Paged: 1234\n")) << monitor_.Output();
  EXPECT_EQ(monitor_.Stop(SIGINT), 0);
  EXPECT_EQ(StopTerminal(terminal), 0);
  EXPECT_EQ(CountOf(terminal.Output(), "PAGE 1234 "), 1);
}

}  // namespace
}  // namespace sentory
