#ifndef SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
#define SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_

#include <string>
#include <vector>

#include "platform/process.h"

namespace sentory {

/// A process launcher that starts nothing: it keeps the command lines it is
/// given and records every call in |calls|, in order ("start", "wait 7",
/// "close 8"). A start fails with |start_error| when that is not 0.
class FakeProcessLauncher : public ProcessLauncher {
 public:
  bool CreateProcessA(char* command_line,
                      ProcessInformation* started) override {
    command_lines.push_back(command_line);
    calls.push_back("start");
    if (start_error != 0) {
      last_error = start_error;
      return false;
    }
    started->process = kProcess;
    started->thread = kThread;
    return true;
  }
  bool WaitForSingleObject(Handle process) override {
    calls.push_back("wait " + std::to_string(process));
    return true;
  }
  std::uint32_t GetLastError() override { return last_error; }
  bool CloseHandle(Handle handle) override {
    calls.push_back("close " + std::to_string(handle));
    return true;
  }

  static constexpr Handle kProcess = 7;
  static constexpr Handle kThread = 8;
  std::vector<std::string> command_lines;
  std::vector<std::string> calls;
  std::uint32_t start_error = 0;
  std::uint32_t last_error = 0;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
