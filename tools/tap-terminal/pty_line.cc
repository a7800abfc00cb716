#include "tools/tap-terminal/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sentory::tapterm {

namespace {

// How long a write waits for room on the line before it gives up.
constexpr int kWriteWaitMs = 2000;
// Longest path a link can point to.
constexpr std::size_t kMaxLinkTarget = 4096;

std::string Reason(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool PtyLine::Open(const std::string& link_path, std::string* error) {
  link_path_ = link_path;
  return OpenPty(error) && Link(error);
}

bool PtyLine::OpenPty(std::string* error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    *error = Reason("posix_openpt");
    return false;
  }
  const char* name = nullptr;
  if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 ||
      (name = ptsname(fd_)) == nullptr) {
    *error = Reason("pseudo-terminal setup");
    close(fd_);
    fd_ = -1;
    return false;
  }
  slave_path_ = name;
  // The settings belong to the pair. The other side may change them later;
  // raw mode here only keeps a fresh line from echoing the modem's words
  // back before anyone sets it up.
  termios settings{};
  if (tcgetattr(fd_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  return true;
}

bool PtyLine::Link(std::string* error) {
  const std::size_t slash = link_path_.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string folder = link_path_.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = Reason(folder.c_str());
      return false;
    }
  }
  // A new link under a temporary name, renamed over the old one, so the
  // path never points nowhere.
  const std::string temporary = link_path_ + ".new";
  unlink(temporary.c_str());
  if (symlink(slave_path_.c_str(), temporary.c_str()) != 0) {
    *error = Reason(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), link_path_.c_str()) != 0) {
    *error = Reason(link_path_.c_str());
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool PtyLine::Reopen(std::string* error) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  return OpenPty(error) && Link(error);
}

void PtyLine::Close() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  char target[kMaxLinkTarget];
  const ssize_t length =
      readlink(link_path_.c_str(), target, sizeof(target) - 1);
  if (length >= 0 &&
      slave_path_.compare(0, std::string::npos, target,
                          static_cast<std::size_t>(length)) == 0) {
    unlink(link_path_.c_str());
  }
}

void PtyLine::DiscardUnread() {
  const int slave = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) return;
  tcflush(slave, TCIFLUSH);
  close(slave);
}

ReadStatus PtyLine::Read(std::string* out) {
  out->clear();
  if (fd_ < 0) return ReadStatus::kClosed;
  char buffer[kLineReadBytes];
  const ssize_t got = read(fd_, buffer, sizeof(buffer));
  if (got > 0) {
    out->assign(buffer, static_cast<std::size_t>(got));
    return ReadStatus::kData;
  }
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
    return ReadStatus::kNothing;
  }
  // EIO: the last handle on the slave side was closed.
  return ReadStatus::kClosed;
}

bool PtyLine::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (fd_ < 0) return false;
    const ssize_t put = write(fd_, bytes.data(), bytes.size());
    if (put > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(put));
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) return false;
    pollfd wait{fd_, POLLOUT, 0};
    if (poll(&wait, 1, kWriteWaitMs) <= 0) return false;
  }
  return true;
}

}  // namespace sentory::tapterm
