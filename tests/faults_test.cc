// Faults around a running monitor: none may end it or lose an alert it
// should raise once things are back.

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/child_process.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace fs = std::filesystem;
namespace {

class FaultsTest : public SiteTest {
 protected:
  void SetUp() override {
    if (TestingWindowsBuild()) GTEST_SKIP() << "faults are staged on Linux";
    SiteTest::SetUp();
    At("DEMO", true);
  }
  void WriteAndExpect(int id) {
    std::string text = "event " + std::to_string(id);
    Write("DEMO System --source Disk --type error --id " + std::to_string(id),
          {text});
    EXPECT_TRUE(monitor_.WaitForOutput("*Disk*" + std::to_string(id) + "*" +
                                       text + "\n"))
        << monitor_.Output();
  }
};

// Given the log or its folder unreadable, the log overwritten, truncated,
// deleted, the machine folder gone, each then restored, the monitor (as
// nobody, for permissions to hold) should alert the events written after,
// and none again but after a delete; a missing alert program and a broken
// registry should only change what an alert carries.
TEST_F(FaultsTest, LogsFolderRegistryAndProgram) {
  std::ofstream(At("DEMO/registry.reg")) << "REGEDIT4\n[HKEY_LOCAL\x01\n\"";
  Words as_nobody;
  if (geteuid() == 0) {
    fs::permissions(site_, fs::perms::all, fs::perm_options::add);
    as_nobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                 "--"};
    // Folders of root's own in the search path would refuse nobody.
    env_.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
  }
  ASSERT_TRUE(Start(monitor_,
                    {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "no-such-program"},
                    as_nobody));
  WriteAndExpect(1);
  EXPECT_TRUE(monitor_.WaitForOutput(
      "no-such-program - CreateProcess failed. system error 2\n"));

  const std::string log = At("DEMO/System.evt"), saved = At("saved.evt");
  const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                             fs::perms::group_read | fs::perms::others_read;
  const fs::perms open = fs::perms::owner_all | fs::perms::group_read |
                         fs::perms::group_exec | fs::perms::others_read |
                         fs::perms::others_exec;
  const std::function<void(bool)> faults[] = {
      [&](bool undo) {
        fs::permissions(log, undo ? readable : fs::perms::none);
      },
      [&](bool undo) {
        fs::permissions(At("DEMO"), undo ? open : fs::perms::none);
      },
      [&](bool undo) {
        if (!undo)
          std::ofstream(log, std::ios::trunc) << std::string(70000, 'Z');
      },
      [&](bool undo) {
        if (!undo) fs::resize_file(log, 100);
      },
      [&](bool undo) {
        if (!undo) fs::remove(log);
      },  // last: it empties
  };
  int id = 2;
  for (const auto& fault : faults) {
    SCOPED_TRACE(id);
    fs::copy_file(log, saved, fs::copy_options::overwrite_existing);
    fault(false);
    sleep(4);  // at least one visit of the damaged log
    fault(true);
    fs::copy_file(saved, log, fs::copy_options::overwrite_existing);
    WriteAndExpect(id++);
    if (id < 7) {
      EXPECT_EQ(CountOf(monitor_.Output(), "event 1\n"), 1);
    }
  }
  fs::rename(At("DEMO"), At("DEMO.gone"));
  EXPECT_TRUE(monitor_.WaitForOutput("Unable to open System log on DEMO\n"));
  fs::rename(At("DEMO.gone"), At("DEMO"));
  WriteAndExpect(id);
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
}

// Given a message file cut short, then restored, and an alert program that
// crashes, each alert should carry its inserts while the file is damaged,
// its message once it is back, and the program run for each.
TEST_F(FaultsTest, TruncatedMessageFileAndCrashingProgram) {
  if (!InstallMessageFile()) GTEST_SKIP() << "the message files were not built";
  const std::string image = ReadMessageFile("rules64");
  std::ofstream(At("crash.sh")) << "#!/bin/sh\nkill -SEGV $$\n";
  fs::permissions(At("crash.sh"), fs::perms::owner_all);
  ASSERT_TRUE(
      Start(monitor_, {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "./crash.sh"}));
  const struct {
    std::size_t size;  // of the message file
    const char* alert;
  } steps[] = {
      {image.size(), "DEMO*Sys*ERR*Disk*1*Inserts a, b and 1. \n"},
      {600, "DEMO*Sys*ERR*Disk*1*a|b|2\n"},  // headers only
      {image.size() / 2, "DEMO*Sys*ERR*Disk*1*a|b|3\n"},
      {image.size(), "DEMO*Sys*ERR*Disk*1*Inserts a, b and 4. \n"},
  };
  int alerts = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.alert);
    std::ofstream(At("drives/c/msg/rules.dll"), std::ios::binary)
        << image.substr(0, step.size);
    Write("DEMO System --source Disk --id 1 --type error a b",
          {std::to_string(++alerts)});
    EXPECT_TRUE(monitor_.WaitForOutput(step.alert, 20)) << monitor_.Output();
    EXPECT_TRUE(monitor_.WaitForOutput(" Running: ./crash.sh\n", 10, alerts));
  }
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
}

// Given a paging terminal that drops the line in the middle of a block, and
// then one killed during a call and started again, every alert should still
// reach the pager.
TEST_F(FaultsTest, PagingTerminalFailures) {
  ChildProcess first, second;
  ASSERT_TRUE(StartTerminal(first, {"--drop-after", "5", "--silent-terminal"}));
  ASSERT_TRUE(Start(monitor_, {"/M0", "DEMO", "/SYS", "/S", "E", "/C", "COM1",
                               "/PH", "1", "/P0", "77"}));
  WriteAndExpect(1);
  sleep(3);  // the call is up and waits for the silent terminal
  first.Stop(SIGKILL, 5);
  fs::remove(At("dev/com1"));
  ASSERT_TRUE(StartTerminal(second, {"--drop-after", "5"}));
  EXPECT_TRUE(monitor_.WaitForOutput(" Paged: 77\n", 120)) << monitor_.Output();
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
  StopTerminal(second);
  EXPECT_EQ(second.Output(), "PAGE 77 DEMO*Sys*ERR*Disk*1*event 1\n");
}

// Given a log file that can grow no more (a file-size limit standing for a
// full disk), the monitor should go on raising alerts and end on Ctrl-C.
TEST_F(FaultsTest, FullLogFileDisk) {
  ASSERT_TRUE(
      Start(monitor_,
            {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "true", "/L", "out.log"},
            {"prlimit", "--fsize=400"}, "quit)..."));
  Write("DEMO System --source Disk --id 1 --type error 1");
  Write("DEMO System --source Disk --id 2 --type error 2");
  sleep(4);
  Write("DEMO System --source Disk --id 3 --type error 3");
  sleep(4);
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
  EXPECT_EQ(fs::file_size(At("out.log")), 400u);
}

}  // namespace
}  // namespace sentory
