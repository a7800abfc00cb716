#ifndef SENTORY_TESTS_SUPPORT_FAKES_H_
#define SENTORY_TESTS_SUPPORT_FAKES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"

namespace sentory {

/// Thrown by the fakes where the real service would end the process, so a
/// test can watch a run end without ending itself.
struct ProcessEnded {
  int status;
};

/// A console that keeps what is written to it: |console| before a log file
/// is opened, |log| afterwards.
class FakeConsole : public Console {
 public:
  void Write(std::string_view text) override;
  void Flush() override {}
  bool ReopenOutput(const char* path) override;
  void CloseOutput() override { output_closed = true; }
  bool SetControlHandler(ControlHandler h) override {
    handler = h;
    return true;
  }
  [[noreturn]] void ExitProcess(int status) override;
  /// Records the status in |exits| too, and sets |exited_at_once|.
  [[noreturn]] void ExitProcessNow(int status) override;

  std::string console;
  std::string log;
  std::string log_path;        ///< the path of the last successful reopen
  bool refuse_reopen = false;  ///< makes ReopenOutput fail
  bool output_closed = false;
  ControlHandler handler = nullptr;
  std::vector<int> exits;
  bool exited_at_once = false;  ///< the last exit was ExitProcessNow
};

/// A clock that never waits: it records sleeps and tones and moves its time
/// only when told to (|now|) or by the sleeps themselves.
class FakeClock : public Clock {
 public:
  std::int64_t Now() override { return now; }
  bool ToLocalTime(std::int64_t time, CalendarTime* out) override;
  void Sleep(std::uint32_t milliseconds) override;
  void Beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
    beeps.push_back({frequency, milliseconds});
  }

  std::int64_t now = 0;
  std::int64_t utc_offset = 0;  ///< seconds added to give local time
  std::vector<std::uint32_t> sleeps;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> beeps;
  /// When not negative, the sleep after this many sleeps ends the run with
  /// ProcessEnded{-1}, so a loop that never returns can be stopped.
  int stop_after_sleeps = -1;

 private:
  std::int64_t pending_milliseconds_ = 0;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_FAKES_H_
