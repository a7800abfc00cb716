#include "tools/tap-terminal/pty_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace sentory::tapterm {
namespace {

// A line behind a link, at 9600 bits/s: a read replaces what the caller
// held, by nothing at first, then by what the other side wrote. A folder
// that cannot be made fails the open.
TEST(PtyLineTest, ReadsWhatTheOtherSideWrote) {
  const std::string dir = testing::TempDir() + "pty" + std::to_string(getpid());
  PtyLine line, refused;
  std::string error, got = "stale";
  ASSERT_TRUE(line.Open(dir + "/modem", &error)) << error;
  EXPECT_EQ(line.Read(&got), ReadStatus::kNothing);
  EXPECT_EQ(got, "");
  const int other = open((dir + "/modem").c_str(), O_RDWR | O_NOCTTY);
  termios settings{};
  ASSERT_EQ(tcgetattr(other, &settings), 0);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));
  ASSERT_EQ(write(other, "atz\r", 4), 4);
  pollfd ready = {line.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 10000), 1);  // the bytes pass on asynchronously
  EXPECT_EQ(line.Read(&got), ReadStatus::kData);
  EXPECT_EQ(got, "atz\r");
  close(other);
  line.Close();
  EXPECT_FALSE(refused.Open(dir + "/modem/sub/x", &error));
  EXPECT_FALSE(error.empty());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace sentory::tapterm
