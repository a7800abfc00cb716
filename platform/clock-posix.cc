// The clock on POSIX systems. Only POSIX and C++ standard library code may
// live here.

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/clock.h"

namespace sentory {
namespace {

class PosixClock : public Clock {
 public:
  PosixClock() { tzset(); }

  std::int64_t Now() override {
    return static_cast<std::int64_t>(time(nullptr));
  }

  bool ToLocalTime(std::int64_t time, CalendarTime* out) override {
    time_t t = static_cast<time_t>(time);
    if (static_cast<std::int64_t>(t) != time) return false;
    struct tm local = {};
    if (localtime_r(&t, &local) == nullptr) return false;
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
    out->weekday = local.tm_wday;
    return true;
  }

  void Sleep(std::uint32_t milliseconds) override {
    struct timespec left = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  // There is no tone generator to drive: ring the bell of the terminal on
  // standard error, if there is one, so the output stream stays as it is,
  // and wait as long as the tone would last.
  void Beep(std::uint32_t /*frequency*/, std::uint32_t milliseconds) override {
    if (isatty(STDERR_FILENO)) {
      (void)!write(STDERR_FILENO, "\a", 1);
    }
    Sleep(milliseconds);
  }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() {
  return std::make_unique<PosixClock>();
}

}  // namespace sentory
