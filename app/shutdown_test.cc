#include "app/shutdown.h"

#include <gtest/gtest.h>

#include <new>

#include "app/startup.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

class ShutdownTest : public testing::Test {
 protected:
  ShutdownTest() { InstallShutdownRecord(&state_); }
  ~ShutdownTest() override { std::set_new_handler(nullptr); }

  // Runs the program with |words| until it ends or first sleeps.
  int Run(std::vector<const char*> words) {
    words.insert(words.begin(), "sentory");
    try {
      RunSentory(state_, static_cast<int>(words.size()), words.data());
    } catch (const ProcessEnded& ended) {
      return ended.status;
    }
    return -2;
  }

  FakePlatform fakes_;
  FakeConsole& console_ = fakes_.console;
  FakeClock& clock_ = fakes_.clock;
  RunState state_{fakes_.platform};
};

// Given a started run, every failed allocation should reach the handler,
// which ends the run with the message on a line of its own and status 1.
TEST_F(ShutdownTest, FailedAllocationEndsTheRun) {
  clock_.stop_after_sleeps = 0;
  ASSERT_EQ(Run({"/M0", "a", "/SYS", "/S", "E", "/R", "p"}), -1);
  std::new_handler handler = std::get_new_handler();
  ASSERT_EQ(handler, &OnOutOfMemory);
  std::string before = console_.console;
  int status = 0;
  try {
    handler();
  } catch (const ProcessEnded& ended) {
    status = ended.status;
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(console_.console.substr(before.size()),
            "\nError: Memory Allocation failed.\n\n");
}

// Given a log file, the message should go into it, and the file should be
// closed before the process ends.
TEST_F(ShutdownTest, MessageGoesToTheLogFileWhichIsClosed) {
  clock_.stop_after_sleeps = 0;
  ASSERT_EQ(Run({"/M0", "a", "/SYS", "/S", "E", "/R", "p", "/L", "x.log"}), -1);
  EXPECT_EQ(console_.log_path, "x.log");
  try {
    Shutdown("bye", 1);
  } catch (const ProcessEnded&) {
  }
  EXPECT_TRUE(console_.output_closed);
  EXPECT_EQ(console_.log, std::string(kBanner) + "\n" +
                              "Scanning event logs (ctrl-c to quit)...\n"
                              "Unable to open System log on a\n"
                              "\nbye\n\n");
  EXPECT_EQ(console_.exits, std::vector<int>{1});
}

// Given each console control event, Ctrl-C and Ctrl-Break should end the run
// with status 0 and print nothing; other events should be left to the
// platform.
TEST_F(ShutdownTest, ConsoleControlEvents) {
  clock_.stop_after_sleeps = 0;
  ASSERT_EQ(Run({"/M0", "a", "/SYS", "/S", "E", "/R", "p"}), -1);
  ASSERT_NE(console_.handler, nullptr);
  EXPECT_FALSE(console_.handler(Console::Control::kOther));
  EXPECT_TRUE(console_.exits.empty());
  for (Console::Control event :
       {Console::Control::kCtrlC, Console::Control::kCtrlBreak}) {
    InstallShutdownRecord(&state_);
    std::string before = console_.console;
    int status = -1;
    try {
      console_.handler(event);
    } catch (const ProcessEnded& ended) {
      status = ended.status;
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(console_.console, before);
  }
  // Once closed, the output stream takes nothing more.
  state_.out.Line({"late"});
  EXPECT_EQ(console_.console.find("late"), std::string::npos);
}

}  // namespace
}  // namespace sentory
