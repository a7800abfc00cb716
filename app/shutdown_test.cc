#include "app/shutdown.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "app/startup.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

class ShutdownTest : public testing::Test {
 protected:
  ShutdownTest() {
    InstallShutdownRecord(&state_);
    fakes_.clock.stop_after_sleeps = 0;
  }
  ~ShutdownTest() override { std::set_new_handler(nullptr); }

  // Runs the program with |words| until it first sleeps.
  void Start(std::vector<const char*> words) {
    words.insert(words.begin(), "sentory");
    EXPECT_EQ(Status([&] {
                RunSentory(state_, static_cast<int>(words.size()),
                           words.data());
              }),
              -1);
  }

  // The status |step| ends the process with; -2 when it returns.
  static int Status(const std::function<void()>& step) {
    try {
      step();
    } catch (const ProcessEnded& ended) {
      return ended.status;
    }
    return -2;
  }

  FakePlatform fakes_;
  FakeConsole& console_ = fakes_.console;
  RunState state_{fakes_.platform};
};

// Given a started run with a log file, a failed allocation should reach the
// handler, which writes the message on a line of its own into the file,
// closes it and ends the process with status 1.
TEST_F(ShutdownTest, FailedAllocationEndsTheRun) {
  Start({"/M0", "a", "/SYS", "/S", "E", "/R", "p", "/L", "x.log"});
  std::new_handler handler = std::get_new_handler();
  ASSERT_EQ(handler, &OnOutOfMemory);
  EXPECT_EQ(Status(handler), 1);
  EXPECT_TRUE(console_.output_closed);
  EXPECT_EQ(console_.log, std::string(kBanner) + "\n" +
                              "Scanning event logs (ctrl-c to quit)...\n"
                              "Unable to open System log on a\n"
                              "\nError: Memory Allocation failed.\n\n");
  EXPECT_EQ(console_.exits, std::vector<int>{1});
}

// Given each console control event, Ctrl-C and Ctrl-Break should end the run
// at once with status 0, print nothing and release nothing the main thread
// may still be using; other events should be left to the platform.
TEST_F(ShutdownTest, ConsoleControlEvents) {
  fakes_.files.files["skip.txt"] = "7 Disk\n";
  Start({"/M0", "a", "/SYS", "/S", "E", "/SK", "skip.txt", "/C", "COM1", "/PH",
         "1", "/P0", "2"});
  ASSERT_NE(console_.handler, nullptr);
  EXPECT_FALSE(console_.handler(Console::Control::kOther));
  EXPECT_TRUE(console_.exits.empty());
  const std::string before = console_.console;
  for (Console::Control event :
       {Console::Control::kCtrlC, Console::Control::kCtrlBreak}) {
    InstallShutdownRecord(&state_);
    EXPECT_EQ(Status([&] { console_.handler(event); }), 0);
    EXPECT_TRUE(console_.exited_at_once);
    EXPECT_FALSE(console_.output_closed);
    EXPECT_EQ(console_.console, before);
    EXPECT_NE(state_.pager, nullptr);
    EXPECT_NE(state_.modem, nullptr);
    EXPECT_NE(state_.skip_text, nullptr);
  }
}

}  // namespace
}  // namespace sentory
