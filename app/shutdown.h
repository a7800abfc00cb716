#ifndef SENTORY_APP_SHUTDOWN_H_
#define SENTORY_APP_SHUTDOWN_H_

#include "app/run_state.h"
#include "platform/console.h"

namespace sentory {

/// Makes |state| the process-wide record through which Shutdown reaches
/// what it releases. Called once by startup, before any handler can run.
void InstallShutdownRecord(RunState* state);

/// The one way out of the process: prints |message| (when not null) on a
/// line of its own followed by an empty line, releases the process-wide
/// resources, and ends the process with |status|. Called on the main thread.
[[noreturn]] void Shutdown(const char* message, int status);

/// The console control handler: Ctrl-C and Ctrl-Break end the process at
/// once with status 0, print nothing and release nothing, since the main
/// thread may be using anything at that moment; any other event is left to
/// the platform. Runs on a thread of the platform's while the main thread
/// goes on.
bool OnConsoleControl(Console::Control event);

/// The out-of-memory handler, installed with std::set_new_handler: ends the
/// process with "Error: Memory Allocation failed." and status 1.
void OnOutOfMemory();

}  // namespace sentory

#endif  // SENTORY_APP_SHUTDOWN_H_
