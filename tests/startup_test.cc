// The built program's start and end: banner, usage, the check lines, the log
// file and the console control events, compared exactly.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace sentory {
namespace {

const char kUsage[] =
    "Usage: Sentory [/Mn machine_name] [/SYS][/APP][/SEC] [/S EWISF] [/SK "
    "skip_file]\n"
    "               [/C COMx,baud,bits,parity,stop] [/PH phone#] [/Pn "
    "pager_pin]\n"
    "               [/MAX pages/secs] [/R program] [/Bn start_hour-end_hour]\n"
    "               [/L log_file] [/D] \n"
    " /Mn    List of computers to monitor. Specify multiple where n=0 to 31\n"
    " /SYS   Monitor System log\n"
    " /APP   Monitor Application log\n"
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
    "n\n"
    " /L     Log file\n"
    " /D     Output TAP protocol debug info\n";

const char kScanning[] = "Scanning event logs (ctrl-c to quit)...\n";

// A valid command line whose program starts and waits for Ctrl-C. The
// machine's folder in the site is empty, so its logs never have a record.
std::vector<std::string> Watching(std::vector<std::string> extra) {
  std::vector<std::string> words = {"/M0", "server1", "/SYS", "/S",
                                    "EW",  "/R",      "alert"};
  words.insert(words.end(), extra.begin(), extra.end());
  return SentoryCommand(words);
}

class StartupTest : public testing::Test {
 protected:
  StartupTest() {
    std::filesystem::create_directory(site_.path() + "/SERVER1");
  }

  std::vector<std::string> SiteEnv() const {
    return {"SENTORY_ROOT=" + site_.path()};
  }
  TempFolder site_;
};

struct ExitCase {
  const char* name;
  std::vector<std::string> words;
  std::string expected;  // standard output after the banner
};

// Given each command line, the program should print the banner and exactly
// the usage or the one check line, and end with status 1.
TEST_F(StartupTest, UsageAndCheckLines) {
  const ExitCase cases[] = {
      {"empty command line", {}, kUsage},
      {"/? with valid options",
       {"/M0", "a", "/SYS", "/S", "E", "/R", "p", "/?"},
       kUsage},
      {"stray word only",
       {"hello"},
       "Error: Machine(s) must be specified using /M\n"},
      {"no log option",
       {"/m0", "a", "/r", "p"},
       "Error: Log options must be specified using /APP, /SYS or /SEC\n"},
      {"alert method",
       {"/M0", "a", "/APP", "/S", "i"},
       "Error: Alert method must be specified- /C for paging or /R for "
       "program.\n"},
      {"blackout hours",
       {"/M0", "a", "/APP", "/S", "i", "/R", "p", "/B0", "24-6"},
       "Error: Specify blackout period hours from 0 to 23.\n"},
      {"log file without value",
       {"/M0", "a", "/APP", "/S", "i", "/R", "p", "/L"},
       "Error: Output log file must be specified using /L\n"},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string output;
    EXPECT_EQ(
        RunToEnd(SentoryCommand(c.words), &output, SiteEnv(), site_.path()), 1);
    EXPECT_EQ(output, kBanner + c.expected);
  }
}

// Given a log file in a folder that does not exist, the program should say
// so on the console and end with status 1.
TEST_F(StartupTest, LogFileThatCannotBeOpened) {
  std::string output;
  EXPECT_EQ(RunToEnd(Watching({"/L", "missing/out.log"}), &output, SiteEnv(),
                     site_.path()),
            1);
  EXPECT_EQ(output, std::string(kBanner) +
                        "Output written to missing/out.log. (ctrl-c to "
                        "quit)...\n"
                        "Could not open log file missing/out.log\n");
}

// Given "/L" in two runs, each ended with Ctrl-C, the file should hold both
// runs, each beginning with the banner, and the console nothing after the
// "Output written to" line.
TEST_F(StartupTest, LogFileAppendedAcrossRunsAndCtrlC) {
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ChildProcess child;
    ASSERT_TRUE(
        child.Start(Watching({"/L", "out.log"}), SiteEnv(), site_.path()));
    ASSERT_TRUE(child.WaitForOutput("(ctrl-c to quit)...\n"));
    // This run's scanning line: the file holds the first run's too.
    EXPECT_TRUE(
        WaitForFileText(site_.path() + "/out.log", kScanning, 10, run + 1));
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(child.Output(),
              std::string(kBanner) +
                  "Output written to out.log. (ctrl-c to quit)...\n");
  }
  std::string run_text = std::string(kBanner) + kScanning;
  EXPECT_EQ(ReadFileText(site_.path() + "/out.log"), run_text + run_text);
}

struct SignalCase {
  const char* name;
  int signal_number;
  int status;                        // expected exit status
  std::vector<std::string> starter;  // run before the program, if any
};

// Given each signal while the program waits, it should end as the console
// control rules say: Ctrl-C and Ctrl-Break with 0, others by their default.
TEST_F(StartupTest, ConsoleControlSignals) {
  std::vector<SignalCase> cases = {
      {"Ctrl-C", SIGINT, 0, {}},
      // As a shell script starts a program in the background.
      {"Ctrl-C with SIGINT ignored at start",
       SIGINT,
       0,
       {"sh", "-c", "trap '' INT; exec \"$@\"", "sh"}},
  };
  if (!TestingWindowsBuild()) {
    // Wine cannot produce Ctrl-Break, and closing the console is Windows'
    // own business.
    cases.push_back({"Ctrl-Break", SIGQUIT, 0, {}});
    cases.push_back({"SIGTERM keeps its default", SIGTERM, 128 + SIGTERM, {}});
    cases.push_back({"SIGHUP keeps its default", SIGHUP, 128 + SIGHUP, {}});
    // Too little memory for the control thread's stack: the program runs
    // on, and Ctrl-C ends it by the signal's default action.
    cases.push_back({"Ctrl-C without a control thread",
                     SIGINT,
                     128 + SIGINT,
                     {"prlimit", "--as=10000000"}});
  }
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> command = Watching({});
    command.insert(command.begin(), c.starter.begin(), c.starter.end());
    ChildProcess child;
    ASSERT_TRUE(child.Start(command, SiteEnv(), site_.path()));
    ASSERT_TRUE(child.WaitForOutput(kScanning));
    child.Signal(c.signal_number);
    EXPECT_EQ(child.Wait(), c.status);
    EXPECT_EQ(child.Output(), std::string(kBanner) + kScanning);
    EXPECT_EQ(child.Errors(), "");
  }
}

}  // namespace
}  // namespace sentory
