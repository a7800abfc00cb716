#ifndef SENTORY_APP_TIME_TEXT_H_
#define SENTORY_APP_TIME_TEXT_H_

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace sentory {

/// Length of a time text: "Sun Dec 05 18:01:01 1999".
constexpr std::size_t kTimeTextLength = 24;

/// |time| (seconds since 1970 UTC) in the local time zone as exactly 24
/// characters: weekday, month, two-digit day, hh:mm:ss, four-digit year. A
/// time the clock cannot convert gives "??? ??? ?? ??:??:?? ????".
std::string TimeText(Clock& clock, std::int64_t time);

}  // namespace sentory

#endif  // SENTORY_APP_TIME_TEXT_H_
