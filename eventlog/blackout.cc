#include "eventlog/blackout.h"

#include <string>

#include "app/int_pair.h"

namespace sentory {

bool Blackout::InBlackout() {
  CalendarTime local;
  bool known = clock_.ToLocalTime(clock_.Now(), &local);
  int hour = local.hour;
  for (int n = 0; known; ++n) {
    std::string key = OptionTable::NumberedKey("/B", n);
    if (!options_.HasOption(key)) break;
    const char* value = options_.OptionValue(key);
    int start = 0;
    int end = 0;
    if (value == nullptr || ScanIntPair(value, '-', &start, &end) != 2) {
      continue;  // validation refuses these; never a period
    }
    bool inside = start <= end ? (start <= hour && hour < end)
                               : (hour >= start || hour < end);
    if (!inside) continue;
    if (!notice_shown_) {
      out_.Line({"Blackout in effect from ", std::to_string(start), ":00 to ",
                 std::to_string(end), ":00"});
      notice_shown_ = true;
    }
    return true;
  }
  notice_shown_ = false;
  return false;
}

}  // namespace sentory
