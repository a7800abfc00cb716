// Starting programs on Windows. Only Win32 and C++ standard library code may
// live here.

#include <windows.h>

#include "platform/process.h"

namespace sentory {
namespace {

// The start-up record's size is the platform's own: 68 bytes in 32-bit
// builds, more where pointers are wider.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68,
              "STARTUPINFOA has an unexpected size");

HANDLE ToHandle(ProcessLauncher::Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

ProcessLauncher::Handle FromHandle(HANDLE handle) {
  return reinterpret_cast<ProcessLauncher::Handle>(handle);
}

class Win32ProcessLauncher : public ProcessLauncher {
 public:
  bool CreateProcessA(char* command_line,
                      ProcessInformation* started) override {
    // No flags: the window, fill, show and standard-handle fields are
    // ignored, and the program shares this console and its handles.
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE, 0,
                         nullptr, nullptr, &startup, &process) == 0) {
      return false;
    }
    started->process = FromHandle(process.hProcess);
    started->thread = FromHandle(process.hThread);
    return true;
  }

  bool WaitForSingleObject(Handle process) override {
    return ::WaitForSingleObject(ToHandle(process), INFINITE) == WAIT_OBJECT_0;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }

  bool CloseHandle(Handle handle) override {
    return ::CloseHandle(ToHandle(handle)) != 0;
  }
};

}  // namespace

std::unique_ptr<ProcessLauncher> MakeSystemProcessLauncher() {
  return std::make_unique<Win32ProcessLauncher>();
}

}  // namespace sentory
