#ifndef SENTORY_RUNNER_ALERT_PROGRAM_H_
#define SENTORY_RUNNER_ALERT_PROGRAM_H_

#include <cstddef>

#include "app/output_stream.h"
#include "platform/process.h"

namespace sentory {

/// Size of the alert program's command line: at most 1023 characters and
/// the terminator.
constexpr std::size_t kAlertCommandLineSize = 1024;

/// Runs the alert program once for one alert and waits, without a time
/// limit, until it has ended. Writes " Running: " and |program| to |out|,
/// then starts |program| (in double quotes when it holds a blank) with two
/// quoted arguments: |event_time| and |alert_text|. In the command line's
/// copy of the texts each double quote becomes a single quote and the
/// backslashes before a closing quote are doubled, so the program always
/// receives exactly those two arguments; the alert text is cut to what fits
/// in kAlertCommandLineSize. Keeps none of its arguments.
///
/// Returns 0 when the program was started and has ended, whatever its exit
/// code. Returns 1 when it could not be started, after writing |program|,
/// " - CreateProcess failed. system error " and the platform's error code;
/// or when |program| and |event_time| leave no room in the command line,
/// after writing |program| and " - command line too long".
int RunAlertProgram(ProcessLauncher& launcher, OutputStream& out,
                    const char* program, const char* event_time,
                    const char* alert_text);

}  // namespace sentory

#endif  // SENTORY_RUNNER_ALERT_PROGRAM_H_
