// Faults around a running monitor: none may end it or lose an alert it
// should raise once things are back.

#include "tests/child_process.h"

namespace sentory {
namespace {
const std::string kDemo = "/M0 DEMO /SYS /S E ";

class FaultsTest : public SiteTest {
 protected:
  void SetUp() override {
    if (TestingWindowsBuild()) GTEST_SKIP() << "faults are staged on Linux";
    SiteTest::SetUp();
    At("DEMO", true);
  }
  void WriteAndExpect(int id) {
    const std::string n = std::to_string(id);
    Write("DEMO System --source Disk --type error --id " + n, {"event " + n});
    EXPECT_TRUE(monitor_.WaitForOutput("*Disk*" + n + "*event " + n + "\n"))
        << monitor_.Output();
  }
};

// The log or its folder unreadable, the log overwritten, cut, deleted, the
// folder gone, each then restored: the monitor (as nobody, for permissions
// to hold) alerts the events after, none twice but after a delete. A missing
// alert program and a broken registry change only what an alert carries.
TEST_F(FaultsTest, LogsFolderRegistryAndProgram) {
  std::ofstream(At("DEMO/registry.reg")) << "REGEDIT4\n[HKEY_LOCAL\x01\n\"";
  Words as_nobody;
  if (geteuid() == 0) {
    fs::permissions(site_, fs::perms::all, fs::perm_options::add);
    as_nobody = Split("setpriv --reuid=65534 --regid=65534 --clear-groups --");
    // Folders of root's own in the search path would refuse nobody.
    env_.push_back("PATH=/usr/local/bin:/usr/bin:/bin");
  }
  ASSERT_TRUE(Start(monitor_, kDemo + "/R no-such-program", as_nobody));
  WriteAndExpect(1);
  EXPECT_TRUE(monitor_.WaitForOutput(
      "no-such-program - CreateProcess failed. system error 2\n"));
  const std::string log = At("DEMO/System.evt"), saved = At("saved.evt");
  for (int id = 2; id <= 6; ++id) {
    SCOPED_TRACE(id);
    fs::copy_file(log, saved, fs::copy_options::overwrite_existing);
    if (id == 2) fs::permissions(log, fs::perms::none);
    if (id == 3) fs::permissions(At("DEMO"), fs::perms::none);
    if (id == 4) std::ofstream(log) << std::string(70000, 'Z');
    if (id == 5) fs::resize_file(log, 100);
    if (id == 6) fs::remove(log);  // last: its events may come again
    sleep(4);                      // at least one visit of the damaged log
    fs::permissions(At("DEMO"), fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::copy_file(saved, log, fs::copy_options::overwrite_existing);
    fs::permissions(log, fs::perms::owner_all | fs::perms::others_read);
    WriteAndExpect(id);
    if (id < 6) {
      EXPECT_EQ(CountOf(monitor_.Output(), "event 1\n"), 1);
    }
  }
  fs::rename(At("DEMO"), At("DEMO.gone"));
  EXPECT_TRUE(monitor_.WaitForOutput("Unable to open System log on DEMO\n"));
  fs::rename(At("DEMO.gone"), At("DEMO"));
  WriteAndExpect(7);
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
}

// A message file cut short, then restored, and a crashing alert program:
// each alert carries its inserts while the file is damaged, else its message.
TEST_F(FaultsTest, TruncatedMessageFileAndCrashingProgram) {
  if (!InstallMessageFile()) GTEST_SKIP() << "the message files were not built";
  const std::string image = ReadMessageFile("rules64");
  std::ofstream(At("crash.sh")) << "#!/bin/sh\nkill -SEGV $$\n";
  fs::permissions(At("crash.sh"), fs::perms::owner_all);
  ASSERT_TRUE(Start(monitor_, kDemo + "/R ./crash.sh"));
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

// A terminal dropping the line amid a block, one killed in a call and
// started again: every alert still reaches the pager.
TEST_F(FaultsTest, PagingTerminalFailures) {
  ChildProcess first, second;
  ASSERT_TRUE(StartTerminal(first, "--drop-after 5 --silent-terminal"));
  ASSERT_TRUE(Start(monitor_, kDemo + "/C COM1 /PH 1 /P0 77"));
  WriteAndExpect(1);
  sleep(3);  // the call is up and waits for the silent terminal
  first.Stop(SIGKILL, 5);
  fs::remove(At("dev/com1"));
  ASSERT_TRUE(StartTerminal(second, "--drop-after 5"));
  EXPECT_TRUE(monitor_.WaitForOutput(" Paged: 77\n", 120)) << monitor_.Output();
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
  StopTerminal(second);
  EXPECT_EQ(second.Output(), "PAGE 77 DEMO*Sys*ERR*Disk*1*event 1\n");
}

// A log file that can grow no more (a full disk): alerts go on, Ctrl-C ends.
TEST_F(FaultsTest, FullLogFileDisk) {
  ASSERT_TRUE(Start(monitor_, kDemo + "/R true /L out.log",
                    {"prlimit", "--fsize=400"}, "quit)..."));
  for (const char* id : {"1", "2", "3"}) {
    Write("DEMO System --source Disk --type error --id " + std::string(id));
    sleep(2);
  }
  EXPECT_EQ(monitor_.Stop(SIGINT, 10), 0);
  EXPECT_EQ(fs::file_size(At("out.log")), 400u);
}

}  // namespace
}  // namespace sentory
