// Faults around a running monitor: its logs, its machine folder, its
// registry, its alert program and its paging terminal going wrong. None may
// end the monitor or lose an alert it should raise once things are back.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace fs = std::filesystem;
namespace {

class FaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (TestingWindowsBuild()) GTEST_SKIP() << "faults are staged on Linux";
    fs::create_directories(site_.path() + "/DEMO");
  }

  std::vector<std::string> Env() const {
    return {"SENTORY_ROOT=" + site_.path()};
  }
  std::string Machine() const { return site_.path() + "/DEMO"; }

  void Write(const std::string& id) {
    std::string output;
    ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                        "write", "DEMO", "System", "--source", "Disk", "--id",
                        id, "--type", "error", "event " + id},
                       &output, Env()),
              0)
        << output;
  }

  // Starts the monitor and lets it visit its log once. An |unprivileged|
  // monitor started by root runs as nobody, so that file permissions hold
  // for it; the site is then open to everybody.
  void Start(std::vector<std::string> extra, bool unprivileged = false) {
    std::vector<std::string> words = {"/M0", "DEMO", "/SYS", "/S", "E"};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<std::string> command = SentoryCommand(words);
    std::vector<std::string> env = Env();
    if (unprivileged && geteuid() == 0) {
      fs::permissions(site_.path(), fs::perms::all, fs::perm_options::add);
      command.insert(command.begin(),
                     {"setpriv", "--reuid=65534", "--regid=65534",
                      "--clear-groups", "--"});
      // Folders of root's own in the search path would refuse nobody.
      env.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
    }
    ASSERT_TRUE(monitor_.Start(command, env, site_.path()));
    ASSERT_TRUE(monitor_.WaitForOutput("Scanning event logs"));
    sleep(1);
  }

  void ExpectAlert(const std::string& id) {
    EXPECT_TRUE(
        monitor_.WaitForOutput("*Disk*" + id + "*event " + id + "\n", 30))
        << monitor_.Output();
  }

  void Stop() {
    monitor_.Signal(SIGINT);
    EXPECT_EQ(monitor_.Wait(10), 0) << monitor_.Output();
  }

  TempFolder site_;
  ChildProcess monitor_;
};

// Given the log file or its folder made unreadable, the log overwritten with
// garbage, truncated, deleted, and the machine folder gone, each then
// restored, the monitor should go on and alert the events written
// afterwards, and, but for a deleted (so emptied) log, none it alerted
// before; a missing alert program and a malformed registry should only
// change what an alert carries.
TEST_F(FaultsTest, LogsFolderRegistryAndProgram) {
  std::ofstream(Machine() + "/registry.reg") << "REGEDIT4\n[HKEY_LOCAL\x01\n\"";
  Start({"/R", "no-such-program"}, true);
  Write("1");
  ExpectAlert("1");
  EXPECT_TRUE(monitor_.WaitForOutput(
      "no-such-program - CreateProcess failed. system error 2\n"));

  const std::string log = Machine() + "/System.evt";
  const std::string saved = site_.path() + "/saved.evt";
  struct Fault {
    const char* name;
    void (*make)(const std::string& log);
    void (*undo)(const std::string& log);
  };
  const Fault faults[] = {
      {"unreadable log",
       [](const std::string& log) { fs::permissions(log, fs::perms::none); },
       [](const std::string& log) {
         fs::permissions(log, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read |
                                  fs::perms::others_read);
       }},
      {"unreadable folder",
       [](const std::string& log) {
         fs::permissions(fs::path(log).parent_path(), fs::perms::none);
       },
       [](const std::string& log) {
         fs::permissions(fs::path(log).parent_path(),
                         fs::perms::owner_all | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
       }},
      {"garbage",
       [](const std::string& log) {
         std::ofstream(log, std::ios::binary | std::ios::trunc)
             << std::string(70000, '\x5a');
       },
       nullptr},
      {"truncated", [](const std::string& log) { fs::resize_file(log, 100); },
       nullptr},
      {"deleted", [](const std::string& log) { fs::remove(log); }, nullptr},
  };
  int id = 2;
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    fs::copy_file(log, saved, fs::copy_options::overwrite_existing);
    fault.make(log);
    sleep(4);  // at least one visit of the damaged log
    if (fault.undo != nullptr) fault.undo(log);
    fs::copy_file(saved, log, fs::copy_options::overwrite_existing);
    Write(std::to_string(id));
    ExpectAlert(std::to_string(id++));
    if (std::string(fault.name) != "deleted") {
      EXPECT_EQ(CountOf(monitor_.Output(), "event 1\n"), 1);
    }
  }

  fs::rename(Machine(), Machine() + ".gone");
  EXPECT_TRUE(
      monitor_.WaitForOutput("Unable to open System log on DEMO\n", 10));
  fs::rename(Machine() + ".gone", Machine());
  Write(std::to_string(id));
  ExpectAlert(std::to_string(id));
  Stop();
}

// Given a message file cut short and then restored, and an alert program
// that crashes every time, each alert should carry its insertion strings
// while the file is damaged and its message again once it is back, and the
// program should be started for every alert.
TEST_F(FaultsTest, TruncatedMessageFileAndCrashingProgram) {
  const std::string message_file = ReadMessageFile("rules64");
  if (message_file.empty()) GTEST_SKIP() << "the message files were not built";
  fs::create_directories(site_.path() + "/drives/c/msg");
  const std::string dll = site_.path() + "/drives/c/msg/rules.dll";
  std::ofstream(dll, std::ios::binary) << message_file;
  std::ofstream(Machine() + "/registry.reg")
      << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\"
         "Services\\EventLog\\System\\Disk]\n"
         "\"EventMessageFile\"=\"C:\\\\msg\\\\rules.dll\"\n";
  std::ofstream(site_.path() + "/crash.sh") << "#!/bin/sh\nkill -SEGV $$\n";
  fs::permissions(site_.path() + "/crash.sh", fs::perms::owner_all);
  Start({"/R", "./crash.sh"});

  auto write = [&](const char* id) {
    std::string output;
    ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                        "write", "DEMO", "System", "--source", "Disk", "--id",
                        "1", "--type", "error", "a", "b", id},
                       &output, Env()),
              0)
        << output;
  };
  const struct {
    const char* name;
    std::size_t size;  // of the message file; 0: the whole file
    const char* alert;
  } steps[] = {
      {"whole", 0, "DEMO*Sys*ERR*Disk*1*Inserts a, b and 1. \n"},
      {"headers only", 600, "DEMO*Sys*ERR*Disk*1*a|b|2\n"},
      {"half", message_file.size() / 2, "DEMO*Sys*ERR*Disk*1*a|b|3\n"},
      {"restored", 0, "DEMO*Sys*ERR*Disk*1*Inserts a, b and 4. \n"},
  };
  int alerts = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    std::ofstream(dll, std::ios::binary | std::ios::trunc)
        << message_file.substr(0, step.size ? step.size : std::string::npos);
    write(std::to_string(++alerts).c_str());
    EXPECT_TRUE(monitor_.WaitForOutput(step.alert, 20)) << monitor_.Output();
    EXPECT_TRUE(monitor_.WaitForOutput(" Running: ./crash.sh\n", 10, alerts));
  }
  Stop();
}

// Given a paging terminal that drops the line in the middle of a block, and
// then one killed during a call and started again, every alert should still
// reach the pager.
TEST_F(FaultsTest, PagingTerminalFailures) {
  const std::string link = site_.path() + "/dev/com1";
  auto start_terminal = [&](ChildProcess* terminal,
                            std::vector<std::string> options) {
    std::vector<std::string> command = {
        std::string(SENTORY_BUILD_DIR) + "/tap-terminal", "--link", link};
    command.insert(command.end(), options.begin(), options.end());
    ASSERT_TRUE(terminal->Start(command));
    for (int i = 0; i < 250 && !fs::exists(link); ++i) usleep(20000);
  };
  ChildProcess first;
  start_terminal(&first, {"--drop-after", "5", "--silent-terminal"});
  Start({"/C", "COM1", "/PH", "1", "/P0", "77"});
  Write("1");
  EXPECT_TRUE(monitor_.WaitForOutput("DEMO*Sys*ERR*Disk*1*event 1\n", 20));
  sleep(3);  // the call is up and waits for the silent terminal
  first.Signal(SIGKILL);
  first.Wait(5);
  fs::remove(link);

  ChildProcess second;
  start_terminal(&second, {"--drop-after", "5"});
  EXPECT_TRUE(monitor_.WaitForOutput(" Paged: 77\n", 120)) << monitor_.Output();
  Stop();
  second.Signal(SIGTERM);
  second.Wait(5);
  EXPECT_EQ(second.Output(), "PAGE 77 DEMO*Sys*ERR*Disk*1*event 1\n");
}

// Given a log file that can grow no more (a file-size limit standing for a
// full disk), the monitor should go on raising alerts and end on Ctrl-C.
TEST_F(FaultsTest, FullLogFileDisk) {
  std::vector<std::string> words = {"prlimit", "--fsize=400"};
  std::vector<std::string> sentory = SentoryCommand(
      {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "true", "/L", "out.log"});
  words.insert(words.end(), sentory.begin(), sentory.end());
  ASSERT_TRUE(monitor_.Start(words, Env(), site_.path()));
  ASSERT_TRUE(monitor_.WaitForOutput("(ctrl-c to quit)..."));
  sleep(1);
  Write("1");
  Write("2");
  sleep(4);
  Write("3");
  sleep(4);
  Stop();
  EXPECT_EQ(fs::file_size(site_.path() + "/out.log"), 400u);
}

}  // namespace
}  // namespace sentory
