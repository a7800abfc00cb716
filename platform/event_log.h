#ifndef SENTORY_PLATFORM_EVENT_LOG_H_
#define SENTORY_PLATFORM_EVENT_LOG_H_

#include <cstdint>
#include <memory>

namespace sentory {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kEventLogSeekRead = 0x0002;
constexpr std::uint32_t kEventLogForwardsRead = 0x0004;

/// The fixed part of the platform's EVENTLOGRECORD (56 bytes, little-endian,
/// the layout ReadEventLogA returns); the source name, computer name, SID,
/// strings and data follow it in the same buffer.
struct EventLogRecord {
  std::uint32_t Length, Reserved, RecordNumber, TimeGenerated, TimeWritten,
      EventID;
  std::uint16_t EventType, NumStrings, EventCategory, ReservedFlags;
  std::uint32_t ClosingRecordNumber, StringOffset, UserSidLength, UserSidOffset,
      DataLength, DataOffset;
};
static_assert(sizeof(EventLogRecord) == 56, "");

/// The platform's event log service. Abstract so it can be faked in tests;
/// MakeSystemEventLog() gives this platform's.
class EventLogService {
 public:
  using Handle = void*;
  virtual ~EventLogService() = default;
  /// OpenEventLogA: nullptr on failure (LastError() tells why).
  virtual Handle OpenEventLog(const char* server, const char* source) = 0;
  /// The number of the oldest record, 0 for an empty log; false on failure.
  virtual bool GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) = 0;
  /// The number of records in the log; false on failure.
  virtual bool GetNumberOfEventLogRecords(Handle log, std::uint32_t* count) = 0;
  /// ReadEventLogA with the flags the program uses (seek | forwards): false
  /// with LastError() 122 and *bytes_needed set when |size| is too small, 87
  /// for a record number not in the log.
  virtual bool ReadEventLog(Handle log, std::uint32_t flags,
                            std::uint32_t record_number, void* buffer,
                            std::uint32_t size, std::uint32_t* bytes_read,
                            std::uint32_t* bytes_needed) = 0;
  /// Closes a handle from OpenEventLog; false when it is not one.
  virtual bool CloseEventLog(Handle log) = 0;
  /// The error code of this service's last failed call on the calling thread
  /// (GetLastError on Windows).
  virtual std::uint32_t LastError() = 0;
};

/// The event log service of this platform: the real one on Windows, the
/// site's event log files elsewhere (and in the Windows test build).
std::unique_ptr<EventLogService> MakeSystemEventLog();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_EVENT_LOG_H_
