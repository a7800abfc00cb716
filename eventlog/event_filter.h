#ifndef SENTORY_EVENTLOG_EVENT_FILTER_H_
#define SENTORY_EVENTLOG_EVENT_FILTER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/output_stream.h"
#include "eventlog/event_record.h"
#include "platform/file_mapping.h"

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

/// Reads the skip file at |path| whole into |skip_text|, up to its first NUL
/// byte. On failure writes the line that says which step failed and returns
/// false; an empty file cannot be mapped and fails.
bool LoadSkipText(FileMapper& files, const char* path, OutputStream& out,
                  std::string* skip_text);

/// True when |skip_text| holds the entry "<event_id> <source>": the ID as a
/// whole word, whitespace, then exactly |source| followed by whitespace or
/// the end of the text. An empty source is never skipped.
bool SkipTextMatches(std::string_view skip_text, std::uint16_t event_id,
                     std::string_view source);

/// True when |record| raises an alert: it is not in the skip text (when
/// there is one) and its type is one of the slots.
bool PassesFilter(const EventRecord& record, const SeveritySlots& slots,
                  const std::string* skip_text);

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_EVENT_FILTER_H_
