// The services this platform has no backend for yet.

#include "platform/unreachable_services.h"

namespace sentory {

std::unique_ptr<EventLogService> MakeSystemEventLog() {
  return std::make_unique<UnreachableEventLog>();
}

}  // namespace sentory
