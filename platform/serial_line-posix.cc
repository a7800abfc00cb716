// The line settings of a POSIX serial port, to and from termios. Only POSIX
// and C++ standard library code may live here.

#include "platform/serial_line-posix.h"

#include <cstdint>

namespace sentory {
namespace {

struct BaudCode {
  std::uint32_t rate;
  speed_t code;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50},         {75, B75},         {110, B110},     {134, B134},
    {150, B150},       {200, B200},       {300, B300},     {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

}  // namespace

bool LineFromDcb(const Dcb& dcb, struct termios* line) {
  struct termios changed = *line;
  const BaudCode* baud = nullptr;
  for (const BaudCode& candidate : kBaudCodes) {
    if (candidate.rate == dcb.BaudRate) baud = &candidate;
  }
  if (baud == nullptr || cfsetispeed(&changed, baud->code) != 0 ||
      cfsetospeed(&changed, baud->code) != 0) {
    return false;
  }
  tcflag_t size = 0;
  switch (dcb.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  tcflag_t parity = 0;
  switch (dcb.Parity) {
    case 0:
      break;
    case 1:
      parity = PARENB | PARODD;
      break;
    case 2:
      parity = PARENB;
      break;
#ifdef CMSPAR
    case 3:
      parity = PARENB | PARODD | CMSPAR;
      break;
    case 4:
      parity = PARENB | CMSPAR;
      break;
#endif
    default:
      return false;
  }
  if (dcb.StopBits != 0 && dcb.StopBits != 2) return false;
  tcflag_t cleared = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CMSPAR
  cleared |= CMSPAR;
#endif
  changed.c_cflag &= ~cleared;
  changed.c_cflag |= size | parity | (dcb.StopBits == 2 ? CSTOPB : 0);
  *line = changed;
  return true;
}

void DcbFromLine(const struct termios& line, Dcb* dcb) {
  speed_t speed = cfgetospeed(&line);
  dcb->BaudRate = 0;
  for (const BaudCode& baud : kBaudCodes) {
    if (baud.code == speed) dcb->BaudRate = baud.rate;
  }
  switch (line.c_cflag & CSIZE) {
    case CS5:
      dcb->ByteSize = 5;
      break;
    case CS6:
      dcb->ByteSize = 6;
      break;
    case CS7:
      dcb->ByteSize = 7;
      break;
    default:
      dcb->ByteSize = 8;
      break;
  }
  dcb->Parity = 0;
  if ((line.c_cflag & PARENB) != 0) {
    bool odd = (line.c_cflag & PARODD) != 0;
    dcb->Parity = odd ? 1 : 2;
#ifdef CMSPAR
    if ((line.c_cflag & CMSPAR) != 0) dcb->Parity = odd ? 3 : 4;
#endif
  }
  dcb->StopBits = (line.c_cflag & CSTOPB) != 0 ? 2 : 0;
}

}  // namespace sentory
