// The tool on a real pseudo-terminal: a dial and a page written from the
// other side, as a program opening the linked port does. Linux only.

#include "tools/tap-terminal/line_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tools/tap-terminal/tap_block.h"

namespace sentory::tapterm {
namespace {

// How long the other side waits for an answer before the test fails.
constexpr int kAnswerWaitMs = 5000;
constexpr std::size_t kPageLineBytes = 256;

// Reads from |fd| until what arrived ends with |expected| or the wait ends.
std::string ReadUntil(int fd, const std::string& expected) {
  std::string got;
  char buffer[kLineReadBytes];
  while (got.size() < expected.size() ||
         got.compare(got.size() - expected.size(), expected.size(), expected) !=
             0) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, kAnswerWaitMs) <= 0) break;
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
}

TEST(LineServerTest, DialsAndPagesOverAPseudoTerminal) {
  std::string folder = testing::TempDir() + "tapterm-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string link = folder + "/dev/com1";
  std::FILE* pages = std::tmpfile();
  ASSERT_NE(pages, nullptr);

  PtyLine line;
  std::string error;
  ASSERT_TRUE(line.Open(link, &error)) << error;
  Outbox outbox;
  HayesModem modem({}, {}, &outbox);
  std::atomic<bool> stop{false};
  std::thread server(
      [&] { ServeLine(&line, &modem, &outbox, stop, pages, nullptr); });

  const int port = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  // The other side sets its own line, as a serial port driver does.
  termios settings{};
  ASSERT_EQ(tcgetattr(port, &settings), 0);
  cfmakeraw(&settings);
  cfsetspeed(&settings, B9600);
  settings.c_cflag |= CLOCAL | CREAD;
  ASSERT_EQ(tcsetattr(port, TCSANOW, &settings), 0);

  Send(port, "ATZ\r");
  EXPECT_EQ(ReadUntil(port, "OK\r\n"), "\r\nOK\r\n");
  Send(port, "ATDT5551234\r");
  EXPECT_EQ(ReadUntil(port, "9600\r\n"), "\r\nCONNECT 9600\r\n");
  Send(port, "\r");
  EXPECT_EQ(ReadUntil(port, "ID="), "ID=");
  Send(port, "\x1bPG1\r");
  EXPECT_EQ(ReadUntil(port, "[p\r"), "\r\x06\r\x1b[p\r");
  Send(port, MakeBlock("1234567", "Disk C: 95% full"));
  EXPECT_EQ(ReadUntil(port, "\x06\r"), "\r\x06\r");
  Send(port, "\x04\r");
  EXPECT_EQ(ReadUntil(port, "\x04\r"), "\x1b\x04\r");
  close(port);

  stop.store(true);
  server.join();
  line.Close();
  EXPECT_EQ(access(link.c_str(), F_OK), -1) << "the link outlived the line";

  char text[kPageLineBytes] = {};
  std::rewind(pages);
  ASSERT_NE(std::fgets(text, sizeof(text), pages), nullptr);
  EXPECT_STREQ(text, "PAGE 1234567 Disk C: 95% full\n");
  std::fclose(pages);
  rmdir((folder + "/dev").c_str());
  rmdir(folder.c_str());
}

}  // namespace
}  // namespace sentory::tapterm

