#ifndef SENTORY_PLATFORM_CONSOLE_H_
#define SENTORY_PLATFORM_CONSOLE_H_

#include <memory>
#include <string_view>

namespace sentory {

/// The process's standard output, its console control events and its end.
/// Abstract so it can be faked in tests; MakeSystemConsole() gives the real
/// one.
class Console {
 public:
  /// The console control events the program tells apart.
  enum class Control { kCtrlC, kCtrlBreak, kOther };
  /// Runs on a thread of the platform's for each control event; returns
  /// true when it handled the event, false to let the default action follow.
  using ControlHandler = bool (*)(Control event);

  virtual ~Console() = default;

  /// Writes bytes to standard output; "\n" is a line end in the platform's
  /// convention. Allocates nothing.
  virtual void Write(std::string_view text) = 0;
  /// Hands everything written so far to the operating system.
  virtual void Flush() = 0;

  /// Reopens standard output onto the file at |path| for appending, as text,
  /// creating a missing file. Returns false, with standard output unchanged,
  /// when the file cannot be opened.
  virtual bool ReopenOutput(const char* path) = 0;
  /// Closes standard output; nothing written afterwards goes anywhere.
  virtual void CloseOutput() = 0;

  /// Registers |handler| for the console control events (Ctrl-C, Ctrl-Break
  /// and the platform's others). Returns false when the platform refuses.
  virtual bool SetControlHandler(ControlHandler handler) = 0;

  /// Ends the process with |status|, after flushing the standard streams.
  /// For the thread that writes the output.
  [[noreturn]] virtual void ExitProcess(int status) = 0;
  /// Ends the process with |status| at once: flushes nothing, takes no lock
  /// and waits for nothing, so it ends the process from any thread even
  /// while another is blocked writing to standard output. What was already
  /// flushed is kept; files and ports close with the process.
  [[noreturn]] virtual void ExitProcessNow(int status) = 0;
};

/// The console of this process.
std::unique_ptr<Console> MakeSystemConsole();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_CONSOLE_H_
