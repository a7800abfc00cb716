#ifndef SENTORY_APP_RUN_STATE_H_
#define SENTORY_APP_RUN_STATE_H_

#include <memory>
#include <string>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "eventlog/event_filter.h"
#include "eventlog/log_rotation.h"
#include "paging/modem_link.h"
#include "paging/page_rate_window.h"
#include "paging/paging_dispatcher.h"
#include "platform/platform.h"

namespace sentory {

/// Everything that lives for the whole run: created by startup, never
/// destroyed (the process ends through Shutdown).
struct RunState {
  explicit RunState(Platform& platform_services)
      : platform(platform_services), out(platform_services.console) {}

  Platform& platform;
  OptionTable options;
  OutputStream out;
  SeveritySlots severities;
  PageRateWindow page_rate;
  RecordCursorTable cursors;
  std::unique_ptr<SkipList> skip_text;      ///< present with "/SK"
  std::unique_ptr<ModemLink> modem;         ///< present with "/C"
  std::unique_ptr<PagingDispatcher> pager;  ///< present with "/C"
};

}  // namespace sentory

#endif  // SENTORY_APP_RUN_STATE_H_
