#ifndef SENTORY_PLATFORM_PROCESS_H_
#define SENTORY_PLATFORM_PROCESS_H_

#include <cstdint>
#include <memory>

namespace sentory {

/// Starts other programs and waits for them. Abstract so it can be faked in
/// tests; MakeSystemProcessLauncher() gives the real one.
///
/// A started program runs in this process's console, with its environment,
/// current folder and inheritable handles (on POSIX: its standard streams
/// and every descriptor not marked close-on-exec).
class ProcessLauncher {
 public:
  /// A handle of a started process or of its first thread, as the platform
  /// gives it.
  using Handle = std::intptr_t;
  /// The two handles of a started process.
  struct ProcessInformation {
    Handle process = 0;
    Handle thread = 0;
  };

  virtual ~ProcessLauncher() = default;

  /// Starts the program named by the first word (or first quoted part) of
  /// |command_line| and hands it the whole line; the platform may change
  /// the text in place while it works. Returns false, with the error code
  /// for GetLastError() and |started| unchanged, when the program could not
  /// be started; true with both handles in |started| when it was.
  virtual bool CreateProcessA(char* command_line,
                              ProcessInformation* started) = 0;

  /// Waits without a time limit until the process of |process| has ended.
  /// Returns false, with the error code for GetLastError(), when the wait
  /// failed.
  virtual bool WaitForSingleObject(Handle process) = 0;

  /// The platform's error code of the last call that failed.
  virtual std::uint32_t GetLastError() = 0;

  /// Releases a handle from CreateProcessA. Returns false, with the error
  /// code for GetLastError(), when |handle| is not a valid handle.
  virtual bool CloseHandle(Handle handle) = 0;
};

/// The process launcher of this platform.
std::unique_ptr<ProcessLauncher> MakeSystemProcessLauncher();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_PROCESS_H_
