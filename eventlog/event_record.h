#ifndef SENTORY_EVENTLOG_EVENT_RECORD_H_
#define SENTORY_EVENTLOG_EVENT_RECORD_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace sentory {

/// One event record as the event log service delivered it: the buffer it was
/// read into, which begins with an EventLogRecord, and the buffer's size.
/// Every accessor stays inside the buffer and inside the record's own length,
/// whatever the record claims.
struct EventRecord {
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t size = 0;

  /// The fixed part; all zero when the buffer is shorter than it.
  EventLogRecord Header() const;
  /// The source name, which follows the fixed part.
  std::string SourceName() const;
  /// The computer name, which follows the source name.
  std::string ComputerName() const;
  /// The NumStrings insertion strings, in record order; a string that the
  /// record does not hold whole is cut at its end, or empty.
  std::vector<std::string> Strings() const;

 private:
  std::uint32_t Limit() const;
  std::string TextAt(std::uint32_t offset, std::uint32_t* next) const;
};

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_EVENT_RECORD_H_
