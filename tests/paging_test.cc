// The built program paging through tap-terminal, a simulated modem and
// paging terminal on a pseudo-terminal linked as the site's COM1: the whole
// road of an event, from the log through its message, the alert program and
// a page to each PIN to the hang-up after the pass.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

class PagingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(site_.path() + "/DEMO");
    program_ = InstallAlertProgram(site_.path());
    if (program_.empty()) GTEST_SKIP() << "SENTORY_RECORD_ARGS_EXE not set";
    // The Linux program finds the source's message file through the site;
    // the Windows one would need it in Wine's own registry.
    std::string message_file = ReadMessageFile("rules64");
    if (!TestingWindowsBuild() && !message_file.empty()) {
      std::filesystem::create_directories(site_.path() + "/drives/c/msg");
      std::ofstream(site_.path() + "/drives/c/msg/rules.dll", std::ios::binary)
          << message_file;
      std::ofstream(site_.path() + "/DEMO/registry.reg")
          << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"
             "\\Services\\EventLog\\System\\Disk]\n"
             "\"EventMessageFile\"=\"C:\\\\msg\\\\rules.dll\"\n";
      with_message_ = true;
    }
  }

  // Under Wine the Windows program reaches the terminal as COM1: the port is
  // mapped in Wine's registry, which takes effect when the Wine server
  // starts again. The server must let go of the port before the terminal
  // goes, so it is restarted first.
  void TearDown() override {
    if (TestingWindowsBuild()) RestartWine();
  }
  bool MapWineCom1() {
    std::string device =
        std::filesystem::read_symlink(site_.path() + "/dev/com1").string();
    bool mapped = RunToEnd({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports",
                            "/v", "COM1", "/t", "REG_SZ", "/d", device, "/f"},
                           nullptr) == 0;
    RestartWine();
    return mapped;
  }

  std::vector<std::string> Env() const {
    return {"SENTORY_ROOT=" + site_.path(), "TZ=UTC",
            "SENTORY_RECORD_ARGS=runs.txt"};
  }

  bool StartTerminal(std::vector<std::string> options) {
    std::vector<std::string> command = {
        std::string(SENTORY_BUILD_DIR) + "/tap-terminal", "--link",
        site_.path() + "/dev/com1"};
    command.insert(command.end(), options.begin(), options.end());
    if (!terminal_.Start(command, Env())) return false;
    for (int i = 0; i < 250; ++i) {
      if (std::filesystem::exists(site_.path() + "/dev/com1")) return true;
      usleep(20000);
    }
    return false;
  }

  void Write(const std::string& id) {
    std::string output;
    ASSERT_EQ(
        RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog", "write",
                  "DEMO", "System", "--source", "Disk", "--id", id, "--type",
                  "error", "--time", "920624818", "disk", "full", "now"},
                 &output, Env()),
        0)
        << output;
  }

  TempFolder site_;
  ChildProcess terminal_;
  std::string program_;
  bool with_message_ = false;
};

// Given one alert and two PINs, the alert program should receive the alert
// text, each PIN should receive it as one page and the dispatcher should
// report both, also when the first dials find the terminal busy: that is
// reported once and the page tried again. The pass then ends with the
// hang-up and the scanning line. Event 1 has a message in the message file;
// event 12 none, so its text is its insertion strings.
TEST_F(PagingTest, EveryAlertPagedToEachPin) {
  struct Case {
    const char* name;
    std::vector<std::string> terminal;
    int connect_errors;
    int id;  // 1 has a message; 12 none
    bool first_refused;
  };
  const Case cases[] = {
      {"terminal answers", {}, 0, 1, false},
      {"two busy dials first",
       {"--busy", "--failing-dials", "2"},
       1,
       12,
       false},
      // Sent four times and NAKed each time, the first page is given up.
      {"first block NAKed four times", {"--nak-block", "4"}, 0, 12, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(StartTerminal(c.terminal));
    if (TestingWindowsBuild()) {
      ASSERT_TRUE(MapWineCom1());
    }
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start(
        SentoryCommand({"/M0", "DEMO", "/SYS", "/S", "E", "/C",
                        "com1,9600,8,n,1", "/PH", "5551234", "/P0", "1234",
                        "/P1", "5678", "/R", program_}),
        Env(), site_.path()));
    ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs"));
    sleep(1);
    std::string text =
        "DEMO*Sys*ERR*Disk*" + std::to_string(c.id) +
        (c.id == 1 && with_message_ ? "*Inserts disk, full and now. "
                                    : "*disk|full|now");
    Write(std::to_string(c.id));
    ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs", 120, 2))
        << monitor.Output();
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0);
    if (TestingWindowsBuild()) RestartWine();
    terminal_.Signal(SIGTERM);
    EXPECT_EQ(terminal_.Wait(), 0);

    EXPECT_EQ(terminal_.Output(),
              (c.first_refused ? "" : "PAGE 1234 " + text + "\n") +
                  "PAGE 5678 " + text + "\n");
    std::string output = monitor.Output();
    EXPECT_NE(output.find(c.first_refused ? "\n Paged: 1234(error) 5678\n"
                                          : "\n Paged: 1234 5678\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(
        CountOf(output, " Error connecting to 5551234 on com1,9600,8,n,1\n"),
        c.connect_errors)
        << output;
    EXPECT_NE(output.find(text + "\n Running: " + program_ + "\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(ReadFileText(site_.path() + "/runs.txt"),
              "2\nFri Mar 05 09:06:58 1999\n" + text + "\n");
    std::filesystem::remove(site_.path() + "/runs.txt");
  }
}

// Given /D, a page and the logoff after the pass should be traced exactly as
// the README's example shows them.
TEST_F(PagingTest, TraceIsTheReadmeExample) {
  const std::string readme =
      ReadFileText(std::filesystem::path(__FILE__).parent_path().parent_path() /
                   "README.md");
  const std::size_t start = readme.find("```\n Paged: 1234\n");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = readme.find("```\n", start + 4);
  ASSERT_NE(end, std::string::npos);
  const std::string example = readme.substr(start + 4, end - start - 4);

  std::filesystem::create_directories(site_.path() + "/SERVER1");
  ASSERT_TRUE(StartTerminal({}));
  if (TestingWindowsBuild()) {
    ASSERT_TRUE(MapWineCom1());
  }
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(
      SentoryCommand({"/M0", "SERVER1", "/SYS", "/S", "W", "/C", "COM1", "/PH",
                      "5551234", "/P0", "1234", "/D"}),
      Env(), site_.path()));
  ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs"));
  sleep(1);
  ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                      "write", "SERVER1", "System", "--source", "Disk", "--id",
                      "11", "--type", "warning", "bad block"},
                     nullptr, Env()),
            0);
  EXPECT_TRUE(monitor.WaitForOutput(example)) << monitor.Output();
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  if (TestingWindowsBuild()) RestartWine();
  terminal_.Signal(SIGTERM);
  EXPECT_EQ(terminal_.Wait(), 0);
}

// A monitor stopped in the middle of a dial should leave the port usable:
// a second monitor, run by an ordinary user, should page through it.
TEST_F(PagingTest, PortLeftUsableByAMonitorStoppedMidDial) {
  if (TestingWindowsBuild() || geteuid() != 0) {
    GTEST_SKIP() << "needs the Linux build, run as root";
  }
  ASSERT_TRUE(StartTerminal({"--connect-delay", "1000", "--verbose"}));
  // The ordinary user reaches the site, its logs and the pseudo-terminal.
  ASSERT_EQ(chmod(site_.path().c_str(), 0755), 0);
  ASSERT_EQ(
      chmod(std::filesystem::canonical(site_.path() + "/dev/com1").c_str(),
            0666),
      0);
  const std::vector<std::string> words = {"/M0", "DEMO", "/SYS", "/S",
                                          "E",   "/C",   "com1", "/PH",
                                          "1",   "/P0",  "1234"};
  ChildProcess first;
  ASSERT_TRUE(first.Start(SentoryCommand(words), Env(), site_.path()));
  ASSERT_TRUE(first.WaitForOutput("Scanning event logs"));
  sleep(1);
  Write("12");
  for (int i = 0;
       i < 1500 && terminal_.Errors().find("atdt") == std::string::npos; ++i) {
    usleep(20000);
  }
  ASSERT_NE(terminal_.Errors().find("atdt"), std::string::npos);
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 0);

  std::vector<std::string> command = {"setpriv", "--reuid=65534",
                                      "--regid=65534", "--clear-groups"};
  for (const std::string& word : SentoryCommand(words)) command.push_back(word);
  ChildProcess second;
  ASSERT_TRUE(second.Start(command, Env(), site_.path()));
  ASSERT_TRUE(second.WaitForOutput("Scanning event logs"));
  sleep(1);
  Write("12");
  EXPECT_TRUE(second.WaitForOutput(" Paged: 1234\n")) << second.Output();
  second.Signal(SIGINT);
  EXPECT_EQ(second.Wait(), 0);
  terminal_.Signal(SIGTERM);
  EXPECT_EQ(terminal_.Wait(), 0);
  EXPECT_EQ(CountOf(terminal_.Output(), "PAGE 1234 "), 1);
}

}  // namespace
}  // namespace sentory
