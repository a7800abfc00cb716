// The event log service on POSIX systems: the site's event log files. The
// Windows test build compiles this file in place of the real service, so
// only C++ standard library code may live here.

#include "platform/event_log.h"
#include "platform/locked_file.h"
#include "winformat/site_event_log.h"

namespace sentory {

std::unique_ptr<EventLogService> MakeSystemEventLog() {
  return MakeSiteEventLog(MakeSystemFileAccess());
}

}  // namespace sentory
