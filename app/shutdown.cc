#include "app/shutdown.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace sentory {
namespace {

RunState* g_state = nullptr;
std::atomic<bool> g_shutting_down{false};

// On the main thread: prints the message, releases the process-wide
// resources and ends the process. Releasing the modem link frees its memory
// only: no hang-up is sent, and the end of the process closes the port.
[[noreturn]] void EndProcess(const char* message, int status) {
  if (g_shutting_down.exchange(true)) {
    // The control thread is ending the process, and waits for nothing.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  RunState& state = *g_state;
  if (message != nullptr) {
    state.out.Line({});
    state.out.Line({message});
    state.out.Line({});
  }
  state.pager.reset();
  state.modem.reset();
  state.out.Close();
  state.skip_text.reset();
  state.platform.console.ExitProcess(status);
  std::abort();  // not reached: ExitProcess does not return
}

// On the control thread, while the main thread may be anywhere: in the
// middle of a write to a pipe nobody reads, holding the stream's locks, or
// using the modem link and the skip text. So nothing is touched or released
// here; every line is flushed as it is written, so the log file already
// holds all of them, and the end of the process closes it and the port. It
// ends the process even while the main thread is in Shutdown itself.
[[noreturn]] void EndProcessFromControlThread() {
  g_shutting_down = true;
  g_state->platform.console.ExitProcessNow(0);
  std::abort();  // not reached: ExitProcessNow does not return
}

}  // namespace

void InstallShutdownRecord(RunState* state) {
  g_state = state;
  g_shutting_down = false;
}

void Shutdown(const char* message, int status) { EndProcess(message, status); }

bool OnConsoleControl(Console::Control event) {
  if (event == Console::Control::kOther) return false;
  EndProcessFromControlThread();
}

void OnOutOfMemory() { Shutdown("Error: Memory Allocation failed.", 1); }

}  // namespace sentory
