#ifndef SENTORY_APP_STARTUP_H_
#define SENTORY_APP_STARTUP_H_

#include <string_view>

#include "app/output_stream.h"
#include "app/run_state.h"

namespace sentory {

/// The banner, printed at startup and again at the head of a log file.
extern const std::string_view kBanner;

/// Prints the usage text.
void PrintUsage(OutputStream& out);

/// The program: prints the banner, installs the handlers, reads and checks
/// the command line |words|, prepares the run and watches the logs. Ends
/// only through Shutdown.
[[noreturn]] void RunSentory(RunState& state, int count,
                             const char* const* words);

}  // namespace sentory

#endif  // SENTORY_APP_STARTUP_H_
