#ifndef SENTORY_PLATFORM_CLOCK_H_
#define SENTORY_PLATFORM_CLOCK_H_

#include <cstdint>
#include <memory>

namespace sentory {

/// A time value broken down in the local time zone.
struct CalendarTime {
  int year = 1970;  ///< e.g. 1999
  int month = 0;    ///< 0 = January
  int day = 1;      ///< 1 to 31
  int hour = 0;     ///< 0 to 23
  int minute = 0;   ///< 0 to 59
  int second = 0;   ///< 0 to 60
  int weekday = 4;  ///< 0 = Sunday
};

/// Time, pauses and the tone. Abstract so tests can use a clock that records
/// sleeps and tones instead of waiting; MakeSystemClock() gives the real one.
class Clock {
 public:
  virtual ~Clock() = default;
  /// The current time in seconds since 1 January 1970, 00:00 UTC.
  virtual std::int64_t Now() = 0;
  /// Converts |time| to the local time zone. Returns false when the platform
  /// cannot convert it; |out| is then unchanged.
  virtual bool ToLocalTime(std::int64_t time, CalendarTime* out) = 0;
  /// Waits |milliseconds|.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  /// Sounds a tone and returns when it has ended.
  virtual void Beep(std::uint32_t frequency, std::uint32_t milliseconds) = 0;
};

/// The clock of this machine.
std::unique_ptr<Clock> MakeSystemClock();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_CLOCK_H_
