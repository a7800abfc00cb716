// The built program watching a site written with sentory-eventlog, in real
// time: alert blocks for new events only, the skip file and "/S" at work, a
// cleared log, the alert program run for each alert, and several machines
// with all three logs visited in their order with everything in "/L"'s file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace sentory {
namespace {

class WatchTest : public testing::Test {
 protected:
  void SetUp() override {
    tool_ = std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog";
    std::ofstream(site_.path() + "/skip.txt") << "17 Tape\n";
    program_ = InstallAlertProgram(site_.path());
    if (program_.empty()) GTEST_SKIP() << "SENTORY_RECORD_ARGS_EXE not set";
  }

  std::vector<std::string> Env() const {
    return {"SENTORY_ROOT=" + site_.path(), "TZ=UTC",
            "SENTORY_RECORD_ARGS=runs.txt"};
  }

  // Writes one event with sentory-eventlog; fails the test if it cannot.
  void Write(const std::vector<std::string>& args) {
    std::vector<std::string> command = {tool_, "write"};
    command.insert(command.end(), args.begin(), args.end());
    std::string output;
    ASSERT_EQ(RunToEnd(command, &output, Env()), 0) << output;
  }

  void Clear(const std::string& log) {
    std::string output;
    ASSERT_EQ(RunToEnd({tool_, "clear", "DEMO", log}, &output, Env()), 0);
  }

  // The second lines of the alert blocks written so far.
  static std::vector<std::string> Alerts(const std::string& output) {
    std::vector<std::string> alerts;
    std::size_t pos = 0;
    while ((pos = output.find("***Alert time: ", pos)) != std::string::npos) {
      std::size_t line = output.find('\n', pos) + 1;
      std::size_t end = output.find('\n', line);
      alerts.push_back(output.substr(line, end - line));
      pos = end;
    }
    return alerts;
  }

  TempFolder site_;
  std::string tool_;
  std::string program_;
};

// Given events written after the start, the monitor should alert exactly
// those that pass the skip file and "/S", in order, and run the program for
// each; after a clear, the new log's records should alert from the first.
TEST_F(WatchTest, AlertsNewEventsOnly) {
  Write({"DEMO", "System", "--source", "Disk", "--id", "9", "old"});
  ChildProcess monitor;
  ASSERT_TRUE(
      monitor.Start(SentoryCommand({"/M0", "demo", "/SYS", "/APP", "/S", "EW",
                                    "/SK", "skip.txt", "/R", program_}),
                    Env(), site_.path()));
  ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs"));
  // Both pairs are visited once before any new event: one pass, one pause.
  sleep(4);

  Write({"DEMO", "System", "--source", "Disk", "--id", "11", "--type", "error",
         "--time", "920624818", "a", "b"});
  Write({"DEMO", "System", "--source", "Tape", "--id", "17", "--type",
         "warning", "skipped"});
  Write({"DEMO", "Application", "--source", "App", "--id", "5", "--type",
         "information", "not selected"});
  Write({"DEMO", "Application", "--source", "App", "--id", "0xC0000006",
         "--type", "warning", "--computer", "ELSEWHERE", "x"});
  ASSERT_TRUE(monitor.WaitForOutput("ELSEWHERE*App*WARN*App*6*x\n", 20))
      << monitor.Output();

  Clear("System");
  Write({"DEMO", "System", "--source", "Disk", "--id", "12", "--type", "error",
         "after clear"});
  ASSERT_TRUE(monitor.WaitForOutput("DEMO*Sys*ERR*Disk*12*after clear\n", 20))
      << monitor.Output();
  std::string runs_path = site_.path() + "/runs.txt";
  EXPECT_TRUE(WaitForFileText(runs_path, "\n", 10, 9));  // 3 runs, 3 lines
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);

  std::string output = monitor.Output();
  EXPECT_EQ(Alerts(output), (std::vector<std::string>{
                                " DEMO*Sys*ERR*Disk*11*a|b",
                                " ELSEWHERE*App*WARN*App*6*x",
                                " DEMO*Sys*ERR*Disk*12*after clear",
                            }));
  EXPECT_NE(output.find("  Event time: Fri Mar 05 09:06:58 1999\n"),
            std::string::npos);
  EXPECT_NE(output.find("\n Running: " + program_ + "\n"), std::string::npos);
  std::string runs = ReadFileText(runs_path);
  EXPECT_EQ(runs.substr(0, runs.find("\n2\n") + 1),
            "2\nFri Mar 05 09:06:58 1999\nDEMO*Sys*ERR*Disk*11*a|b\n");
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 9);
}

// Given three machines (the last without a folder) and all three logs, with
// "/L", every line after the "Output written to" line should land in the
// file, and the events written between two visits should be alerted in the
// order of visits: each machine's System, Security and Application logs,
// then the next machine's.
TEST_F(WatchTest, SeveralMachinesAllLogsInOrderIntoTheLogFile) {
  const std::string log_path = site_.path() + "/out.log";
  std::filesystem::create_directories(site_.path() + "/DEMO");
  std::filesystem::create_directories(site_.path() + "/OTHER");
  ChildProcess monitor;
  ASSERT_TRUE(
      monitor.Start(SentoryCommand({"/M0", "DEMO", "/M1", "OTHER", "/M2",
                                    "GONE", "/APP", "/SEC", "/SYS", "/S",
                                    "EWISF", "/R", program_, "/L", "out.log"}),
                    Env(), site_.path()));
  // The last visit of the first round; the next is DEMO's System log, 3 s
  // later, so the events below all land between two visits.
  const std::string last_visit = "Unable to open Application log on GONE\n";
  ASSERT_TRUE(WaitForFileText(log_path, last_visit, 60))
      << ReadFileText(log_path);
  const std::vector<std::vector<std::string>> events = {
      {"OTHER", "Application", "--type", "error", "o-app"},
      {"DEMO", "Security", "--type", "success", "d-sec"},
      {"OTHER", "System", "--type", "warning", "o-sys"},
      {"DEMO", "System", "--type", "error", "d-sys-1"},
      {"OTHER", "Security", "--type", "failure", "o-sec"},
      {"DEMO", "Application", "--type", "information", "d-app"},
      {"DEMO", "System", "--type", "warning", "d-sys-2"},
  };
  for (const std::vector<std::string>& event : events) {
    Write({event[0], event[1], "--source", "Src", "--id", "3", event[2],
           event[3], event[4]});
  }
  ASSERT_TRUE(WaitForFileText(log_path, last_visit, 60, 2))
      << ReadFileText(log_path);
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);

  EXPECT_EQ(monitor.Output(), std::string(kBanner) +
                                  "Output written to out.log. (ctrl-c to "
                                  "quit)...\n");
  std::string file = ReadFileText(log_path);
  EXPECT_EQ(file.rfind(std::string(kBanner) +
                           "Scanning event logs (ctrl-c to quit)...\n",
                       0),
            0u)
      << file;
  EXPECT_EQ(Alerts(file), (std::vector<std::string>{
                              " DEMO*Sys*ERR*Src*3*d-sys-1",
                              " DEMO*Sys*WARN*Src*3*d-sys-2",
                              " DEMO*Sec*SCSS*Src*3*d-sec",
                              " DEMO*App*INFO*Src*3*d-app",
                              " OTHER*Sys*WARN*Src*3*o-sys",
                              " OTHER*Sec*FAIL*Src*3*o-sec",
                              " OTHER*App*ERR*Src*3*o-app",
                          }));
  EXPECT_EQ(CountOf(file, "\n Running: " + program_ + "\n"), 7);
  for (const char* log : {"System", "Security", "Application"}) {
    EXPECT_NE(file.find(std::string("Unable to open ") + log + " log on GONE"),
              std::string::npos);
  }
}

// Given two monitors on one machine, each with a skip file of its own (the
// first much longer), each should skip by its own file only. On Windows a
// third process holds a mapping of the first file under the name mappings
// of skip files once shared, as the first monitor does while it loads, so
// the second maps its file while that mapping is there.
TEST_F(WatchTest, TwoMonitorsEachSkipByTheirOwnFile) {
  std::string padding;
  for (int n = 0; n < 4000; ++n)
    padding += "99 Padding " + std::to_string(n) + "\r\n";
  std::ofstream(site_.path() + "/long.txt") << "18 Disk\r\n" << padding;
  std::ofstream(site_.path() + "/short.txt") << "17 Tape\r\n";
  std::filesystem::create_directories(site_.path() + "/DEMO");
  ChildProcess holder;
  if (TestingWindowsBuild()) {
    std::vector<std::string> hold;
    const char* runner = std::getenv("SENTORY_RUNNER");
    if (runner != nullptr && *runner != '\0') hold.emplace_back(runner);
    hold.push_back(std::filesystem::path(std::getenv("SENTORY_RECORD_ARGS_EXE"))
                       .replace_filename("hold_mapping.exe")
                       .string());
    hold.insert(hold.end(), {"long.txt", "EventSkipList"});
    ASSERT_TRUE(holder.Start(hold, Env(), site_.path()));
    ASSERT_TRUE(holder.WaitForOutput("holding")) << holder.Errors();
  }
  ChildProcess first, second;
  ASSERT_TRUE(first.Start(SentoryCommand({"/M0", "DEMO", "/SYS", "/S", "W",
                                          "/SK", "long.txt", "/R", program_}),
                          Env(), site_.path()));
  ASSERT_TRUE(first.WaitForOutput("Scanning event logs")) << first.Output();
  ASSERT_TRUE(second.Start(SentoryCommand({"/M0", "DEMO", "/SYS", "/S", "W",
                                           "/SK", "short.txt", "/R", program_}),
                           Env(), site_.path()));
  ASSERT_TRUE(second.WaitForOutput("Scanning event logs")) << second.Output();
  // Each has visited the log once, so the events below are new to both.
  sleep(4);
  Write({"DEMO", "System", "--source", "Tape", "--id", "17", "--type",
         "warning", "t"});
  Write({"DEMO", "System", "--source", "Disk", "--id", "18", "--type",
         "warning", "d"});
  Write({"DEMO", "System", "--source", "End", "--id", "19", "--type", "warning",
         "e"});
  EXPECT_TRUE(first.WaitForOutput("DEMO*Sys*WARN*End*19*e\n", 20))
      << first.Output();
  EXPECT_TRUE(second.WaitForOutput("DEMO*Sys*WARN*End*19*e\n", 20))
      << second.Output();
  first.Signal(SIGINT);
  second.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(Alerts(first.Output()),
            (std::vector<std::string>{" DEMO*Sys*WARN*Tape*17*t",
                                      " DEMO*Sys*WARN*End*19*e"}));
  EXPECT_EQ(Alerts(second.Output()),
            (std::vector<std::string>{" DEMO*Sys*WARN*Disk*18*d",
                                      " DEMO*Sys*WARN*End*19*e"}));
}

}  // namespace
}  // namespace sentory
