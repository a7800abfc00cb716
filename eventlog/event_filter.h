#ifndef SENTORY_EVENTLOG_EVENT_FILTER_H_
#define SENTORY_EVENTLOG_EVENT_FILTER_H_

#include <cstdint>

namespace sentory {

/// The event types chosen with "/S": each slot holds one event type value
/// (1 error, 2 warning, 4 information, 8 audit success, 16 audit failure) or
/// 0 when unfilled.
struct SeveritySlots {
  static constexpr int kCount = 5;
  std::uint32_t slot[kCount] = {0, 0, 0, 0, 0};
};

/// Fills |slots| from the "/S" letters: the character at position i speaks
/// for slot i, E W I S F in either case store their type, any other
/// character leaves its slot 0. Characters after the fifth are ignored.
void ParseSeverities(const char* text, SeveritySlots* slots);

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_EVENT_FILTER_H_
