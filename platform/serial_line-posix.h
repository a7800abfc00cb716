// The POSIX serial port's translation of line settings to and from termios,
// apart from the port so that it can be checked without a device: a
// pseudo-terminal reports 8 data bits and no parity whatever it is given.
// Only POSIX and C++ standard library code may live here.

#ifndef SENTORY_PLATFORM_SERIAL_LINE_POSIX_H_
#define SENTORY_PLATFORM_SERIAL_LINE_POSIX_H_

#include <termios.h>

#include "platform/serial_port.h"

namespace sentory {

/// Sets the speeds of |line| and its CSIZE, PARENB, PARODD, CMSPAR and
/// CSTOPB flags from |dcb|; every other setting stays as it is. Returns
/// false, with |line| unchanged, for a baud rate, byte size, parity or
/// stop-bit code that the line cannot carry.
bool LineFromDcb(const Dcb& dcb, struct termios* line);

/// Sets the baud rate (0 for a speed without one), byte size, parity and
/// stop bits of |dcb| from |line|.
void DcbFromLine(const struct termios& line, Dcb* dcb);

}  // namespace sentory

#endif  // SENTORY_PLATFORM_SERIAL_LINE_POSIX_H_
