#include "platform/serial_line-posix.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace sentory {
namespace {

// Given the line settings of a port, the termios flags should carry the byte
// size, parity and stop bits, replacing the ones the line had, and keep
// every other flag, and read back as they were set; settings the line
// cannot carry leave it unchanged.
TEST(LineFromDcbTest, SetsSizeParityAndStopBits) {
  struct Case {
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    bool ok;
    tcflag_t flags;
  } cases[] = {
      {19200, 5, 0, 0, true, CS5},
      {19200, 6, 0, 2, true, CS6 | CSTOPB},
      {19200, 7, 2, 0, true, CS7 | PARENB},
      {19200, 8, 1, 2, true, CS8 | PARENB | PARODD | CSTOPB},
#ifdef CMSPAR
      {19200, 8, 3, 0, true, CS8 | PARENB | PARODD | CMSPAR},
      {19200, 8, 4, 0, true, CS8 | PARENB | CMSPAR},
#endif
      {14400, 8, 0, 0, false, 0},
      {19200, 4, 0, 0, false, 0},
      {19200, 8, 5, 0, false, 0},
      {19200, 8, 0, 1, false, 0},
  };
  tcflag_t line_flags = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CMSPAR
  line_flags |= CMSPAR;
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + "," + std::to_string(c.size) + "," +
                 std::to_string(c.parity) + "," + std::to_string(c.stop));
    struct termios line = {};
    line.c_cflag = CS7 | PARENB | CLOCAL | CREAD | HUPCL;
    ASSERT_EQ(cfsetspeed(&line, B9600), 0);
    Dcb dcb;
    dcb.BaudRate = c.baud;
    dcb.ByteSize = c.size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    EXPECT_EQ(LineFromDcb(dcb, &line), c.ok);
    EXPECT_EQ(line.c_cflag & line_flags, c.ok ? c.flags : CS7 | PARENB);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD | HUPCL), CLOCAL | CREAD | HUPCL);
    EXPECT_EQ(cfgetospeed(&line), c.ok ? B19200 : B9600);
    Dcb back;
    DcbFromLine(line, &back);
    if (c.ok) {
      EXPECT_EQ(std::make_tuple(back.BaudRate, back.ByteSize, back.Parity,
                                back.StopBits),
                std::make_tuple(c.baud, c.size, c.parity, c.stop));
    }
  }
}

}  // namespace
}  // namespace sentory
