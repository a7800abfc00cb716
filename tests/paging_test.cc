// The built program paging through tap-terminal, a simulated modem and
// paging terminal on a pseudo-terminal linked as the site's COM1.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace sentory {
namespace {

class PagingTest : public testing::Test {
 protected:
  void SetUp() override {
    if (TestingWindowsBuild()) {
      GTEST_SKIP() << "the Windows build reads the machine's own event logs";
    }
    std::filesystem::create_directories(site_.path() + "/DEMO");
  }

  std::vector<std::string> Env() const {
    return {"SENTORY_ROOT=" + site_.path(), "TZ=UTC"};
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

  void Write(const std::string& id, const std::string& text) {
    std::string output;
    ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                        "write", "DEMO", "System", "--source", "Disk", "--id",
                        id, "--type", "error", text},
                       &output, Env()),
              0)
        << output;
  }

  TempFolder site_;
  ChildProcess terminal_;
};

// Given one alert and two PINs, each PIN should receive the alert text as
// one page, the dispatcher should report both, and the line should be hung
// up after the pass.
TEST_F(PagingTest, EveryAlertPagedToEachPin) {
  ASSERT_TRUE(StartTerminal({}));
  ChildProcess monitor;
  ASSERT_TRUE(monitor.Start(
      {SentoryCommand()[0], "/M0", "DEMO", "/SYS", "/S", "E", "/C",
       "com1,9600,8,n,1", "/PH", "5551234", "/P0", "1234", "/P1", "5678"},
      Env(), site_.path()));
  ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs"));
  sleep(1);
  Write("11", "disk full");
  // The pass ends with the hang-up, then the scanning line again.
  ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs", 90, 2))
      << monitor.Output();
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  terminal_.Signal(SIGTERM);
  EXPECT_EQ(terminal_.Wait(), 0);

  EXPECT_EQ(terminal_.Output(),
            "PAGE 1234 DEMO*Sys*ERR*Disk*11*disk full\n"
            "PAGE 5678 DEMO*Sys*ERR*Disk*11*disk full\n");
  EXPECT_NE(monitor.Output().find("\n Paged: 1234 5678\n"), std::string::npos)
      << monitor.Output();
}

}  // namespace
}  // namespace sentory
