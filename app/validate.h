#ifndef SENTORY_APP_VALIDATE_H_
#define SENTORY_APP_VALIDATE_H_

#include <cstddef>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "eventlog/event_filter.h"
#include "paging/page_rate_window.h"

namespace sentory {

/// The longest port name, phone number and PIN that the paging buffers take,
/// and the longest alert program command line before the alert text.
constexpr std::size_t kMaxPortNameLength = 15;
constexpr std::size_t kMaxPhoneLength = 122;
constexpr std::size_t kMaxPinLength = 248;
constexpr std::size_t kMaxCommandLineBeforeAlertText = 1022;

/// Length of the alert program's command line up to the alert text: the
/// program (quoted when it holds a blank), a blank, the quoted event time, a
/// blank and the opening quote of the alert text.
std::size_t CommandLineLengthBeforeAlertText(const char* program);

/// The port name of a "/C" value: its first comma-separated field, upper
/// case, with leading and repeated commas skipped; empty when there is none.
std::size_t PortNameLength(const char* com_settings);

/// Checks the options in their fixed order and stops at the first that
/// fails, after printing its one line on |out|. Fills |severities| from "/S"
/// and |page_rate| from "/MAX" as it goes. Returns true when all pass.
bool ValidateOptions(const OptionTable& options, OutputStream& out,
                     SeveritySlots* severities, PageRateWindow* page_rate);

}  // namespace sentory

#endif  // SENTORY_APP_VALIDATE_H_
