// Ctrl-C while the monitor waits for each kind of thing: its pause between
// passes, its tone, its alert program, the modem's answer to a dial, and the
// paging terminal's answer. It must end with status 0 and keep every line
// written before.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child_process.h"

namespace sentory {
namespace {

struct WaitCase {
  const char* name;
  std::vector<std::string> terminal;  // tap-terminal options; none: "/R"
  bool write_event;
  const char* last_line;  // written before the wait begins
  int settle_ms;          // from that line to Ctrl-C
};

class CtrlCTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(site_.path() + "/DEMO");
    program_ = InstallAlertProgram(site_.path());
    if (program_.empty()) GTEST_SKIP() << "SENTORY_RECORD_ARGS_EXE not set";
  }

  void TearDown() override {
    if (TestingWindowsBuild()) RestartWine();
  }

  std::vector<std::string> Env() const {
    // A zone an hour east of UTC, so local time is seen to be local. The
    // Windows runtime reads TZ in its own form, without zone names.
    return {"SENTORY_ROOT=" + site_.path(), "SENTORY_RECORD_ARGS=runs.txt",
            "SENTORY_RECORD_ARGS_DELAY_MS=30000",
            TestingWindowsBuild() ? "TZ=CET-1" : "TZ=Europe/Berlin"};
  }

  TempFolder site_;
  std::string program_;
};

// Given the monitor waiting in each place, Ctrl-C should end it at once with
// status 0, every line before the wait kept.
TEST_F(CtrlCTest, EndsEveryWait) {
  const WaitCase cases[] = {
      {"pause", {}, false, "Scanning event logs", 1000},
      // The 250 ms tone follows the block at once, before the program.
      {"tone", {}, true, "DEMO*Sys*ERR*Disk*1*x\n", 0},
      {"alert program", {}, true, " Running: ", 1000},
      {"dial",
       {"--connect-delay", "60000"},
       true,
       "DEMO*Sys*ERR*Disk*1*x",
       1000},
      {"page", {"--silent-terminal"}, true, "DEMO*Sys*ERR*Disk*1*x", 1000},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(site_.path() + "/DEMO");
    std::filesystem::create_directories(site_.path() + "/DEMO");
    ChildProcess terminal;
    std::vector<std::string> words = {"/M0", "DEMO", "/SYS", "/S", "E"};
    if (c.terminal.empty()) {
      words.insert(words.end(), {"/R", program_});
    } else {
      std::vector<std::string> command = {
          std::string(SENTORY_BUILD_DIR) + "/tap-terminal", "--link",
          site_.path() + "/dev/com1"};
      command.insert(command.end(), c.terminal.begin(), c.terminal.end());
      ASSERT_TRUE(terminal.Start(command));
      for (int i = 0;
           i < 250 && !std::filesystem::exists(site_.path() + "/dev/com1");
           ++i) {
        usleep(20000);
      }
      if (TestingWindowsBuild()) {
        std::string device =
            std::filesystem::read_symlink(site_.path() + "/dev/com1").string();
        ASSERT_EQ(RunToEnd({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports",
                            "/v", "COM1", "/t", "REG_SZ", "/d", device, "/f"},
                           nullptr),
                  0);
        TearDown();
      }
      words.insert(words.end(), {"/C", "COM1", "/PH", "1", "/P0", "2"});
    }
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start(SentoryCommand(words), Env(), site_.path()));
    ASSERT_TRUE(monitor.WaitForOutput("Scanning event logs"));
    std::string output;
    if (c.write_event) {
      sleep(1);
      ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                          "write", "DEMO", "System", "--source", "Disk", "--id",
                          "1", "--type", "error", "--time", "920624818", "x"},
                         &output, Env()),
                0);
    }
    ASSERT_TRUE(monitor.WaitForOutput(c.last_line, 20)) << monitor.Output();
    usleep(c.settle_ms * 1000);  // well inside the wait
    std::string before = monitor.Output();
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(5), 0);
    output = monitor.Output();
    if (c.settle_ms > 0) {
      // Deep inside a long wait: nothing lost and nothing added.
      EXPECT_EQ(output, before);
    } else {
      // The tone's end may print the next line before the signal lands.
      EXPECT_EQ(output.substr(0, before.size()), before);
    }
    EXPECT_EQ(output.find("Paged:"), std::string::npos) << output;
    if (c.write_event) {
      // Written at 09:06:58 UTC, an hour behind Berlin in March.
      EXPECT_NE(output.find("  Event time: Fri Mar 05 10:06:58 1999\n"),
                std::string::npos)
          << output;
    }
    if (TestingWindowsBuild()) TearDown();
    terminal.Signal(SIGTERM);
    terminal.Wait(5);
  }
}

// Given standard output on a FIFO nobody reads and alerts enough to fill it,
// so that the monitor is blocked in a write, Ctrl-C should still end it
// with status 0 within 2 s.
TEST_F(CtrlCTest, EndsWhileAWriteIsBlocked) {
  std::string fifo = site_.path() + "/out.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open so the monitor's writes block rather than fail; never read.
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  int capacity = fcntl(reader, F_GETPIPE_SZ);
  auto waiting = [reader] {
    int bytes = 0;
    ioctl(reader, FIONREAD, &bytes);
    return bytes;
  };
  ChildProcess monitor;
  monitor.SendOutputTo(fifo);
  ASSERT_TRUE(monitor.Start(
      SentoryCommand({"/M0", "DEMO", "/SYS", "/S", "E", "/R", program_}),
      {"SENTORY_ROOT=" + site_.path(), "SENTORY_RECORD_ARGS=runs.txt"},
      site_.path()));
  // The banner and the scanning line are in the FIFO.
  const int started = static_cast<int>(
      sizeof(kBanner) - 1 + sizeof("Scanning event logs (ctrl-c to quit)..."));
  for (int i = 0; i < 1500 && waiting() < started; ++i) usleep(20000);
  ASSERT_GE(waiting(), started);
  sleep(1);
  const std::string long_text(30000, 'x');
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(RunToEnd({std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog",
                        "write", "DEMO", "System", "--source", "Disk", "--id",
                        "1", "--type", "error", long_text},
                       nullptr, {"SENTORY_ROOT=" + site_.path()}),
              0);
  }
  // Full, up to what partly filled pages leave free, and no longer growing:
  // the monitor is blocked with the rest of its alerts still to write.
  int full = capacity - 4 * 4096;
  for (int i = 0; i < 1500 && waiting() < full; ++i) usleep(20000);
  ASSERT_GE(waiting(), full);
  int seen = 0;
  for (int i = 0; i < 60 && seen != waiting(); ++i) {
    seen = waiting();
    usleep(500000);
  }
  ASSERT_EQ(seen, waiting());
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(2), 0);
  close(reader);
}

}  // namespace
}  // namespace sentory
