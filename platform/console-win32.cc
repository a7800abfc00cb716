// The console on Windows. Only Win32 and C++ standard library code may live
// here.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace sentory {
namespace {

Console::ControlHandler g_handler = nullptr;

BOOL WINAPI OnControlEvent(DWORD event) {
  if (g_handler == nullptr) return FALSE;
  Console::Control control = Console::Control::kOther;
  if (event == CTRL_C_EVENT) control = Console::Control::kCtrlC;
  if (event == CTRL_BREAK_EVENT) control = Console::Control::kCtrlBreak;
  return g_handler(control) ? TRUE : FALSE;
}

class Win32Console : public Console {
 public:
  void Write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }

  void Flush() override { std::fflush(stdout); }

  bool ReopenOutput(const char* path) override {
    // freopen() closes stdout before it opens the file, and leaves it closed
    // when the open fails. Open the file first and put it in place of
    // stdout's descriptor only once it is open, so a failure leaves the
    // console as it was.
    int fd = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0) return false;
    std::fflush(stdout);
    bool ok = _dup2(fd, _fileno(stdout)) == 0;
    _close(fd);
    return ok;
  }

  void CloseOutput() override { std::fclose(stdout); }

  bool SetControlHandler(ControlHandler handler) override {
    g_handler = handler;
    return SetConsoleCtrlHandler(OnControlEvent, TRUE) != 0;
  }

  [[noreturn]] void ExitProcess(int status) override {
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(status));
  }

  // ExitProcess() would run the runtime's detach code, which flushes the
  // streams and so waits for a lock the main thread may hold while it is
  // blocked in a write; TerminateProcess() runs none of it.
  [[noreturn]] void ExitProcessNow(int status) override {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ::ExitProcess(static_cast<UINT>(status));  // not reached
  }
};

}  // namespace

std::unique_ptr<Console> MakeSystemConsole() {
  return std::make_unique<Win32Console>();
}

}  // namespace sentory
