#include "tools/tap-terminal/pty_line.h"

#include <gtest/gtest.h>

#include <string>

namespace sentory::tapterm {
namespace {

// The rest of the line is driven by every paging end-to-end test.
TEST(PtyLineTest, FolderThatCannotBeMadeFailsTheOpen) {
  PtyLine line;
  std::string error;
  EXPECT_FALSE(line.Open("/proc/no/such/modem", &error));
  EXPECT_NE(error.find("/proc/no/such"), std::string::npos) << error;
}

}  // namespace
}  // namespace sentory::tapterm
