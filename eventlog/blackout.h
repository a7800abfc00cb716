#ifndef SENTORY_EVENTLOG_BLACKOUT_H_
#define SENTORY_EVENTLOG_BLACKOUT_H_

#include "app/option_table.h"
#include "app/output_stream.h"
#include "platform/clock.h"

namespace sentory {

/// The blackout periods /B0, /B1, ...: hours during which no log is read.
class Blackout {
 public:
  Blackout(const OptionTable& options, Clock& clock, OutputStream& out)
      : options_(options), clock_(clock), out_(out) {}
  /// True when the current local hour lies in a period; writes the notice
  /// once when a blackout begins.
  bool InBlackout();

 private:
  const OptionTable& options_;
  Clock& clock_;
  OutputStream& out_;
  bool notice_shown_ = false;
};

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_BLACKOUT_H_
