#ifndef SENTORY_TESTS_SUPPORT_FAKES_H_
#define SENTORY_TESTS_SUPPORT_FAKES_H_

#include <cstdint>
#include <deque>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/option_table.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace sentory {

/// Fills |table| from |words| (or a line split at blanks) as the words after
/// the program's name; the words are kept for the run, as the table refers
/// to them.
inline void ParseWords(OptionTable* table,
                       const std::vector<std::string>& words) {
  static std::deque<std::string> kept;
  std::vector<const char*> argv = {"sentory"};
  for (const std::string& word : words)
    argv.push_back(kept.emplace_back(word).c_str());
  table->ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}
inline void ParseWords(OptionTable* table, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  ParseWords(table, words);
}

/// Thrown where the real service would end the process.
struct ProcessEnded {
  int status;
};

/// Keeps what is written: in |console|, or in |log| once a log file is open.
class FakeConsole : public Console {
 public:
  void Write(std::string_view text) override {
    if (!output_closed) (log_path.empty() ? console : log).append(text);
  }
  void Flush() override {}
  bool ReopenOutput(const char* path) override {
    if (!refuse_reopen) log_path = path;
    return !refuse_reopen;
  }
  void CloseOutput() override { output_closed = true; }
  bool SetControlHandler(ControlHandler h) override {
    handler = h;
    return true;
  }
  [[noreturn]] void ExitProcess(int status) override { Exit(status, false); }
  [[noreturn]] void ExitProcessNow(int status) override { Exit(status, true); }
  [[noreturn]] void Exit(int status, bool at_once) {
    exits.push_back(status);
    exited_at_once = at_once;
    throw ProcessEnded{status};
  }

  std::string console, log, log_path;
  bool refuse_reopen = false, output_closed = false, exited_at_once = false;
  ControlHandler handler = nullptr;
  std::vector<int> exits;
};

/// Never waits: records sleeps and tones; its time (UTC) moves only when set
/// or by the sleeps. With |stop_after_sleeps| >= 0 the sleep after that many
/// ends the run with ProcessEnded{-1}.
class FakeClock : public Clock {
 public:
  std::int64_t Now() override { return now; }
  bool ToLocalTime(std::int64_t time, CalendarTime* out) override;
  void Sleep(std::uint32_t milliseconds) override;
  void Beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
    beeps.push_back({frequency, milliseconds});
  }

  std::int64_t now = 0, milliseconds = 0;
  std::vector<std::uint32_t> sleeps;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> beeps;
  int stop_after_sleeps = -1;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_FAKES_H_
