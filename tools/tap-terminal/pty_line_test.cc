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

// Given a line behind a link, set to 9600 bits/s, a read should replace what
// the caller held: with nothing yet, by nothing, then by what the other side
// wrote.
TEST(PtyLineTest, ReadsWhatTheOtherSideWrote) {
  const std::string link =
      testing::TempDir() + "pty_line_test_" + std::to_string(getpid());
  PtyLine line;
  std::string error;
  ASSERT_TRUE(line.Open(link + "/modem", &error)) << error;
  std::string got = "stale";
  EXPECT_EQ(line.Read(&got), ReadStatus::kNothing);
  EXPECT_EQ(got, "");
  const int other = open((link + "/modem").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
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
  rmdir(link.c_str());

  // A folder that cannot be made fails the open.
  const std::string file = link + ".file";
  std::fclose(std::fopen(file.c_str(), "w"));
  PtyLine refused;
  EXPECT_FALSE(refused.Open(file + "/sub/modem", &error));
  EXPECT_FALSE(error.empty());
  std::remove(file.c_str());
}

}  // namespace
}  // namespace sentory::tapterm
