#ifndef SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
#define SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_

#include <string>
#include <vector>

#include "platform/process.h"

namespace sentory {

/// Starts nothing: keeps the command lines and every call, in order ("start",
/// "wait 7", "close 8"; the process is 7, its thread 8). A start fails with
/// |start_error| when that is not 0.
class FakeProcessLauncher : public ProcessLauncher {
 public:
  bool CreateProcessA(char* command_line, ProcessInformation* out) override {
    command_lines.push_back(command_line);
    calls.push_back("start");
    *out = {7, 8};
    return start_error == 0;
  }
  bool WaitForSingleObject(Handle process) override {
    return Call("wait ", process);
  }
  std::uint32_t GetLastError() override { return start_error; }
  bool CloseHandle(Handle handle) override { return Call("close ", handle); }
  bool Call(const char* name, Handle handle) {
    calls.push_back(name + std::to_string(handle));
    return true;
  }

  std::vector<std::string> command_lines;
  std::vector<std::string> calls;
  std::uint32_t start_error = 0;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_FAKE_PROCESS_LAUNCHER_H_
