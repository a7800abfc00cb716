// The event log service on Windows: the platform's own. Only Win32 and C++
// standard library code may live here.

#include <windows.h>

// The interface keeps the platform's names; here they must name its
// methods, not the ANSI/Unicode macros.
#undef OpenEventLog
#undef ReadEventLog

#include "platform/event_log.h"

namespace sentory {
namespace {

class Win32EventLog : public EventLogService {
 public:
  Handle OpenEventLog(const char* server, const char* source) override {
    return OpenEventLogA(server, source);
  }

  bool GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) override {
    DWORD value = 0;
    if (!::GetOldestEventLogRecord(log, &value)) return false;
    *oldest = value;
    return true;
  }

  bool GetNumberOfEventLogRecords(Handle log, std::uint32_t* count) override {
    DWORD value = 0;
    if (!::GetNumberOfEventLogRecords(log, &value)) return false;
    *count = value;
    return true;
  }

  bool ReadEventLog(Handle log, std::uint32_t flags,
                    std::uint32_t record_number, void* buffer,
                    std::uint32_t size, std::uint32_t* bytes_read,
                    std::uint32_t* bytes_needed) override {
    DWORD read = 0;
    DWORD needed = 0;
    BOOL ok =
        ReadEventLogA(log, flags, record_number, buffer, size, &read, &needed);
    *bytes_read = read;
    *bytes_needed = needed;
    return ok != 0;
  }

  bool CloseEventLog(Handle log) override { return ::CloseEventLog(log) != 0; }

  std::uint32_t LastError() override { return GetLastError(); }
};

}  // namespace

std::unique_ptr<EventLogService> MakeSystemEventLog() {
  return std::make_unique<Win32EventLog>();
}

}  // namespace sentory
