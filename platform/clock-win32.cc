// The clock on Windows. Only Win32 and C++ standard library code may live
// here.

#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace sentory {
namespace {

class Win32Clock : public Clock {
 public:
  std::int64_t Now() override {
    return static_cast<std::int64_t>(std::time(nullptr));
  }

  bool ToLocalTime(std::int64_t time, CalendarTime* out) override {
    __time64_t t = time;
    struct tm local = {};
    if (time < 0 || _localtime64_s(&local, &t) != 0) return false;
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
    out->weekday = local.tm_wday;
    return true;
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  void Beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
    ::Beep(frequency, milliseconds);
  }
};

}  // namespace

std::unique_ptr<Clock> MakeSystemClock() {
  return std::make_unique<Win32Clock>();
}

}  // namespace sentory
