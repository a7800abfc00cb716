#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console.h"

namespace sentory {
namespace {

// Given output written and still in the buffer of standard output (no line
// end, so not even a terminal's buffer hands it on), ending the process
// hands it on first.
TEST(ConsolePosixDeathTest, ExitProcessKeepsWhatWasWritten) {
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::unique_ptr<Console> console = MakeSystemConsole();
        console->Write("written before the end");
        console->ExitProcess(3);
      },
      testing::ExitedWithCode(3), "written before the end");
}

}  // namespace
}  // namespace sentory
