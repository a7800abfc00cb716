#ifndef SENTORY_APP_SCAN_LOOP_H_
#define SENTORY_APP_SCAN_LOOP_H_

#include "app/run_state.h"

namespace sentory {

/// Watches the logs and raises the alerts, pass after pass, until the
/// process is ended by Shutdown. Never returns.
[[noreturn]] void ScanAndAlert(RunState& state);

}  // namespace sentory

#endif  // SENTORY_APP_SCAN_LOOP_H_
