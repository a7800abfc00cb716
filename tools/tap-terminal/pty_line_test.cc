#include "tools/tap-terminal/pty_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace sentory::tapterm {
namespace {

// A read replaces what the caller held; with no one on the other side yet
// there is nothing to read, which is not a closed line.
TEST(PtyLineTest, ReadReplacesWhatTheCallerHeld) {
  PtyLine line;
  std::string error, got = "stale";
  ASSERT_TRUE(
      line.Open(testing::TempDir() + "pty" + std::to_string(getpid()), &error))
      << error;
  EXPECT_EQ(line.Read(&got), ReadStatus::kNothing);
  EXPECT_EQ(got, "");
}

// The rest of the line is driven by every paging end-to-end test.
TEST(PtyLineTest, FolderThatCannotBeMadeFailsTheOpen) {
  PtyLine line;
  std::string error;
  EXPECT_FALSE(line.Open("/proc/no/such/modem", &error));
  EXPECT_NE(error.find("/proc/no/such"), std::string::npos) << error;
}

}  // namespace
}  // namespace sentory::tapterm
