#include "tests/support/fakes.h"

#include <ctime>

namespace sentory {

bool FakeClock::ToLocalTime(std::int64_t time, CalendarTime* out) {
  std::time_t t = static_cast<std::time_t>(time);
  const std::tm* tm = std::gmtime(&t);
  if (tm == nullptr) return false;
  *out = {tm->tm_year + 1900, tm->tm_mon, tm->tm_mday, tm->tm_hour,
          tm->tm_min,         tm->tm_sec, tm->tm_wday};
  return true;
}

void FakeClock::Sleep(std::uint32_t ms) {
  if (stop_after_sleeps >= 0 &&
      static_cast<int>(sleeps.size()) >= stop_after_sleeps) {
    throw ProcessEnded{-1};
  }
  sleeps.push_back(ms);
  milliseconds += ms;
  now += milliseconds / 1000;
  milliseconds %= 1000;
}

}  // namespace sentory
