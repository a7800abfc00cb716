// The serial ports on POSIX systems. Only POSIX and C++ standard library code
// may live here.
//
// A port name is looked up without regard to case, first as a link in the
// site's dev folder ($SENTORY_ROOT/dev/com3), then COMn as /dev/ttyS<n-1>,
// then as /dev/<name>. termios carries the line settings; the port is put in
// raw mode when it is opened, as a Windows port is. The read and write
// time-outs are kept per open port and emulated with poll() on a
// non-blocking descriptor. The port is held exclusively with flock(), which
// the system releases with the descriptor however the process ends; the
// terminal's own exclusive mode (TIOCEXCL) would outlive a process stopped
// before it turned it off, and lock out every later user but root. DTR goes
// through the modem-control ioctls, which a pseudo-terminal refuses; the caller
// ignores that result.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/serial_line-posix.h"
#include "winformat/site.h"

namespace sentory {
namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

using SteadyClock = std::chrono::steady_clock;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// COMn with n from 1 up gives n; anything else 0.
unsigned long ComNumber(const char* name) {
  if (LowerAscii(name[0]) != 'c' || LowerAscii(name[1]) != 'o' ||
      LowerAscii(name[2]) != 'm') {
    return 0;
  }
  const char* digits = name + 3;
  if (*digits < '1' || *digits > '9' || std::strlen(digits) > 6) return 0;
  if (digits[std::strspn(digits, "0123456789")] != '\0') return 0;
  return std::strtoul(digits, nullptr, 10);
}

std::string ResolvePortPath(const char* name) {
  if (name[0] == '\0' || std::strchr(name, '/') != nullptr) return "";
  std::string path = FindNoCase(SiteRoot() + "/dev", name);
  if (!path.empty()) return path;
  if (unsigned long n = ComNumber(name)) {
    return "/dev/ttyS" + std::to_string(n - 1);
  }
  return FindNoCase("/dev", name);
}

// The time left until |deadline| in whole milliseconds, rounded up, for
// poll(); 0 once it has passed.
int MillisecondsUntil(SteadyClock::time_point deadline) {
  auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

class PosixSerialPorts : public SerialPorts {
 public:
  ~PosixSerialPorts() override {
    for (auto& open_port : ports_) Release(open_port.first);
  }

  SerialHandle CreateFileA(const char* name) override {
    std::string path = ResolvePortPath(name);
    if (path.empty()) return kInvalidSerialHandle;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidSerialHandle;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      return kInvalidSerialHandle;
    }
    struct termios raw = {};
    if (tcgetattr(fd, &raw) != 0) {
      Release(fd);
      return kInvalidSerialHandle;
    }
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP |
                                          INLCR | IGNCR | ICRNL | IXON | IXOFF);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag |= CLOCAL | CREAD;
    // With VMIN 0 an empty non-blocking read would return 0, which is kept
    // for a line that has gone away; with 1 it fails with EAGAIN.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
      Release(fd);
      return kInvalidSerialHandle;
    }
    ports_[fd] = CommTimeouts();
    return fd;
  }

  bool GetCommState(SerialHandle port, Dcb* dcb) override {
    struct termios line = {};
    if (Find(port) == nullptr || tcgetattr(Fd(port), &line) != 0) {
      return false;
    }
    DcbFromLine(line, dcb);
    return true;
  }

  bool SetCommState(SerialHandle port, const Dcb& dcb) override {
    struct termios line = {};
    return Find(port) != nullptr && tcgetattr(Fd(port), &line) == 0 &&
           LineFromDcb(dcb, &line) && tcsetattr(Fd(port), TCSANOW, &line) == 0;
  }

  bool GetCommTimeouts(SerialHandle port, CommTimeouts* timeouts) override {
    CommTimeouts* kept = Find(port);
    if (kept == nullptr) return false;
    *timeouts = *kept;
    return true;
  }

  bool SetCommTimeouts(SerialHandle port,
                       const CommTimeouts& timeouts) override {
    CommTimeouts* kept = Find(port);
    if (kept == nullptr) return false;
    *kept = timeouts;
    return true;
  }

  bool EscapeCommFunction(SerialHandle port, int function) override {
    if (Find(port) == nullptr) return false;
    int bits = TIOCM_DTR;
    if (function == kSetDtr) return ioctl(Fd(port), TIOCMBIS, &bits) == 0;
    if (function == kClrDtr) return ioctl(Fd(port), TIOCMBIC, &bits) == 0;
    return false;
  }

  bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                std::uint32_t* read) override;
  bool WriteFile(SerialHandle port, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;

  bool CloseHandle(SerialHandle port) override {
    if (Find(port) == nullptr) return false;
    ports_.erase(Fd(port));
    return Release(Fd(port));
  }

 private:
  static bool Release(int fd) { return close(fd) == 0; }

  static int Fd(SerialHandle port) { return static_cast<int>(port); }

  CommTimeouts* Find(SerialHandle port) {
    if (port < 0 || port > 0x7FFFFFFF) return nullptr;
    auto it = ports_.find(Fd(port));
    return it == ports_.end() ? nullptr : &it->second;
  }

  // The time-outs of each open port, by descriptor.
  std::map<int, CommTimeouts> ports_;
};

bool PosixSerialPorts::ReadFile(SerialHandle port, void* buffer,
                                std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  const CommTimeouts* kept = Find(port);
  if (kept == nullptr) return false;
  const CommTimeouts t = *kept;
  // The platform's two special cases: an interval of MAXDWORD with no total
  // returns at once with what is there; with a total multiplier of MAXDWORD
  // as well, the read returns as soon as one byte is there, waiting up to
  // the total constant for it.
  const bool at_once = t.ReadIntervalTimeout == kMaxDword &&
                       t.ReadTotalTimeoutMultiplier == 0 &&
                       t.ReadTotalTimeoutConstant == 0;
  const bool first_byte = t.ReadIntervalTimeout == kMaxDword &&
                          t.ReadTotalTimeoutMultiplier == kMaxDword &&
                          t.ReadTotalTimeoutConstant != 0 &&
                          t.ReadTotalTimeoutConstant != kMaxDword;
  const bool interval_used =
      t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword;
  const bool total_used = first_byte || (t.ReadTotalTimeoutMultiplier != 0 ||
                                         t.ReadTotalTimeoutConstant != 0);
  const std::uint64_t total_ms =
      first_byte
          ? t.ReadTotalTimeoutConstant
          : static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * size +
                t.ReadTotalTimeoutConstant;
  const SteadyClock::time_point start = SteadyClock::now();
  const SteadyClock::time_point deadline =
      start + std::chrono::milliseconds(total_ms);
  SteadyClock::time_point last_byte = start;

  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  std::uint32_t got = 0;
  while (got < size) {
    ssize_t count = ::read(Fd(port), bytes + got, size - got);
    if (count > 0) {
      got += static_cast<std::uint32_t>(count);
      last_byte = SteadyClock::now();
      if (first_byte) break;
      continue;
    }
    if (count == 0) return false;  // the line has gone away
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (at_once) break;

    int wait_ms = -1;
    if (total_used) wait_ms = MillisecondsUntil(deadline);
    if (interval_used && got > 0) {
      int interval_left = MillisecondsUntil(
          last_byte + std::chrono::milliseconds(t.ReadIntervalTimeout));
      if (wait_ms < 0 || interval_left < wait_ms) wait_ms = interval_left;
    }
    if (wait_ms == 0) break;
    struct pollfd ready = {Fd(port), POLLIN, 0};
    if (poll(&ready, 1, wait_ms) < 0 && errno != EINTR) return false;
  }
  *read = got;
  return true;
}

bool PosixSerialPorts::WriteFile(SerialHandle port, const void* data,
                                 std::uint32_t size, std::uint32_t* written) {
  *written = 0;
  const CommTimeouts* kept = Find(port);
  if (kept == nullptr) return false;
  const bool total_used = kept->WriteTotalTimeoutMultiplier != 0 ||
                          kept->WriteTotalTimeoutConstant != 0;
  const SteadyClock::time_point deadline =
      SteadyClock::now() +
      std::chrono::milliseconds(
          static_cast<std::uint64_t>(kept->WriteTotalTimeoutMultiplier) * size +
          kept->WriteTotalTimeoutConstant);

  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t sent = 0;
  while (sent < size) {
    ssize_t count = ::write(Fd(port), bytes + sent, size - sent);
    if (count > 0) {
      sent += static_cast<std::uint32_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    int wait_ms = total_used ? MillisecondsUntil(deadline) : -1;
    if (wait_ms == 0) break;
    struct pollfd ready = {Fd(port), POLLOUT, 0};
    if (poll(&ready, 1, wait_ms) < 0 && errno != EINTR) return false;
  }
  *written = sent;
  return true;
}

}  // namespace

std::unique_ptr<SerialPorts> MakeSystemSerialPorts() {
  return std::make_unique<PosixSerialPorts>();
}

}  // namespace sentory
