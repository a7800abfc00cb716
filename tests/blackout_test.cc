// The built program during a blackout, with the clock moved by libfaketime:
// the notice once, no alert while it lasts, the event alerted after it.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace sentory {
namespace {

// Given a start a few seconds before a blackout ends and an event written
// at once, the event should be alerted only after the notice's period.
TEST(BlackoutEndToEndTest, EventWaitsForTheEndOfTheBlackout) {
  if (TestingWindowsBuild())
    GTEST_SKIP() << "libfaketime is for Linux programs";
  // Preloaded directly, so that Ctrl-C reaches the program itself.
  const std::string library =
      "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  if (!std::filesystem::exists(library)) {
    GTEST_SKIP() << "libfaketime is not installed";
  }
  TempFolder site;
  std::filesystem::create_directories(site.path() + "/DEMO");
  std::vector<std::string> env = {"SENTORY_ROOT=" + site.path(), "TZ=UTC"};
  std::vector<std::string> monitor_env = env;
  monitor_env.push_back("LD_PRELOAD=" + library);
  monitor_env.push_back("FAKETIME=@2026-12-07 02:59:56");
  std::vector<std::string> command = SentoryCommand(
      {"/M0", "DEMO", "/SYS", "/S", "E", "/R", "true", "/B0", "2-3"});
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(command, monitor_env, site.path()));
  ASSERT_TRUE(monitor.WaitForOutput("Blackout in effect from 2:00 to 3:00\n"));
  std::string output;
  ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                      "write", "DEMO", "System", "--source", "Disk", "--id",
                      "7", "--type", "error", "late"},
                     &output, env),
            0);
  ASSERT_TRUE(monitor.WaitForOutput("DEMO*Sys*ERR*Disk*7*late\n", 30))
      << monitor.Output();
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  output = monitor.Output();
  std::size_t notice = output.find("Blackout in effect");
  std::size_t alert = output.find("***Alert time: Mon Dec 07 03:00:");
  EXPECT_NE(alert, std::string::npos) << output;
  EXPECT_LT(notice, alert);
  EXPECT_EQ(output.find("Blackout in effect", notice + 1), std::string::npos);
}

}  // namespace
}  // namespace sentory
