#include "app/scan_loop.h"

#include "app/time_text.h"
#include "eventlog/alert_text.h"
#include "eventlog/blackout.h"
#include "eventlog/event_filter.h"
#include "eventlog/log_rotation.h"
#include "runner/alert_program.h"

namespace sentory {
namespace {

constexpr std::uint32_t kPassPauseMs = 3000;
constexpr std::uint32_t kToneFrequency = 500;
constexpr std::uint32_t kToneMs = 250;
constexpr char kScanningLine[] = "Scanning event logs (ctrl-c to quit)...";

}  // namespace

void ScanAndAlert(RunState& state) {
  Platform& platform = state.platform;
  Blackout blackout(state.options, platform.clock, state.out);
  LogRotation rotation(state.options, platform.event_log, state.out, blackout,
                       state.cursors);

  state.out.Line({kScanningLine});
  for (;;) {
    int alerts = 0;
    EventRecord record;
    char log_name[kLogNameSize];
    while (rotation.NextEvent(&record, log_name) == NextEventResult::kEvent) {
      if (PassesFilter(record, state.severities, state.skip_text.get())) {
        std::string alert =
            RenderAlert(platform.registry, platform.messages, record, log_name);
        std::int64_t alert_time = platform.clock.Now();
        std::string event_time =
            TimeText(platform.clock, record.Header().TimeGenerated);
        state.out.Line({"***Alert time: ", TimeText(platform.clock, alert_time),
                        "  Event time: ", event_time});
        state.out.Line({" ", alert});
        platform.clock.Beep(kToneFrequency, kToneMs);
        if (state.options.HasOption("/R")) {
          RunAlertProgram(platform.process, state.out,
                          state.options.OptionValue("/R"), event_time.c_str(),
                          alert.c_str());
        }
        if (state.pager != nullptr) {
          while (state.pager->SendPages(PagingDispatcher::kSend,
                                        alert.data()) != 0) {
            platform.clock.Sleep(kPassPauseMs);
          }
        }
        ++alerts;
      }
      record = EventRecord();
    }
    if (state.pager != nullptr) {
      state.pager->SendPages(PagingDispatcher::kHangUp, nullptr);
    }
    if (alerts > 0) {
      state.out.Line({});
      state.out.Line({kScanningLine});
    }
    platform.clock.Sleep(kPassPauseMs);
  }
}

}  // namespace sentory
