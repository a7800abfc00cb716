#include "app/time_text.h"

#include <cstdio>

namespace sentory {

std::string TimeText(Clock& clock, std::int64_t time) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed",
                                   "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  CalendarTime t;
  if (!clock.ToLocalTime(time, &t) || t.weekday < 0 || t.weekday > 6 ||
      t.month < 0 || t.month > 11 || t.day < 1 || t.day > 31 || t.hour < 0 ||
      t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 ||
      t.second > 60 || t.year < 0 || t.year > 9999) {
    return "??? ??? ?? ??:??:?? ????";
  }
  char text[kTimeTextLength + 1];
  std::snprintf(text, sizeof(text), "%s %s %02d %02d:%02d:%02d %04d",
                kDays[t.weekday], kMonths[t.month], t.day, t.hour, t.minute,
                t.second, t.year);
  return std::string(text, kTimeTextLength);
}

}  // namespace sentory
