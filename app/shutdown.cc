#include "app/shutdown.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace sentory {
namespace {

RunState* g_state = nullptr;
std::atomic<bool> g_shutting_down{false};

// Runs on the main thread, or on the console control thread while the main
// thread goes on. The output stream refuses every write once closed, so a
// main thread still printing touches nothing released; what the main thread
// may be using (the modem link, the skip text) is left to the end of the
// process on the control thread's way out. Releasing the modem link frees
// its memory only: no hang-up is sent, and the end of the process closes the
// port.
[[noreturn]] void EndProcess(bool on_main_thread, const char* message,
                             int status) {
  if (g_shutting_down.exchange(true)) {
    // Another thread is already ending the process.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  RunState& state = *g_state;
  if (message != nullptr) {
    state.out.Line({});
    state.out.Line({message});
    state.out.Line({});
  }
  if (on_main_thread) {
    state.pager.reset();
    state.modem.reset();
  }
  state.out.Close();
  if (on_main_thread) state.skip_text.reset();
  state.platform.console.ExitProcess(status);
  std::abort();  // not reached: ExitProcess does not return
}

}  // namespace

void InstallShutdownRecord(RunState* state) {
  g_state = state;
  g_shutting_down = false;
}

void Shutdown(const char* message, int status) {
  EndProcess(true, message, status);
}

bool OnConsoleControl(Console::Control event) {
  if (event == Console::Control::kOther) return false;
  EndProcess(false, nullptr, 0);
}

void OnOutOfMemory() { Shutdown("Error: Memory Allocation failed.", 1); }

}  // namespace sentory
