#ifndef SENTORY_WINFORMAT_SITE_EVENT_LOG_H_
#define SENTORY_WINFORMAT_SITE_EVENT_LOG_H_

#include <memory>
#include <string>

#include "platform/event_log.h"
#include "platform/locked_file.h"

namespace sentory {

/// The event log service over the site: log L of machine M is the file
/// L.evt (any case) in M's machine folder; a machine folder without it holds
/// that log empty, and a machine without a folder cannot be reached. Opens
/// files through |files|.
std::unique_ptr<EventLogService> MakeSiteEventLog(
    std::unique_ptr<FileAccess> files);

/// The path of log |log| of the machine whose folder is |folder|; the path
/// the file would have when it does not exist.
std::string EventLogPath(const std::string& folder, const std::string& log);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_SITE_EVENT_LOG_H_
