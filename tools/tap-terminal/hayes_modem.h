#ifndef SENTORY_TOOLS_TAP_TERMINAL_HAYES_MODEM_H_
#define SENTORY_TOOLS_TAP_TERMINAL_HAYES_MODEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/tap-terminal/outbox.h"
#include "tools/tap-terminal/paging_terminal.h"

namespace sentory::tapterm {

/// Largest command line the modem keeps; a longer one is answered ERROR.
constexpr std::size_t kMaxCommandLine = 80;

/// How a dial ends.
enum class DialResult { kConnect, kBusy, kNoDialtone, kNoCarrier };

/// The ways the modem can be told to misbehave.
struct ModemBehaviour {
  DialResult failure = DialResult::kConnect;  ///< what failing dials give
  int failing_dials = -1;  ///< dials that give |failure| (-1: all of them)
  bool silent = false;     ///< never answers anything
  std::int64_t connect_delay_ms = 0;  ///< from the dial to its result
  std::int64_t guard_ms = 500;    ///< silence needed around the escape "+++"
  bool close_on_hang_up = false;  ///< a dropped call also closes the line
};

/// A Hayes modem with echo off and verbose result codes, dialling a paging
/// terminal. Bytes from the computer go in through Feed; its answers, and
/// the terminal's, go to the outbox.
class HayesModem {
 public:
  HayesModem(const ModemBehaviour& modem, const TerminalBehaviour& terminal,
             Outbox* outbox)
      : behaviour_(modem), terminal_(terminal, outbox), outbox_(outbox) {}

  /// Takes the bytes the computer wrote, received at |now_ms|.
  void Feed(std::string_view bytes, std::int64_t now_ms);

  /// The computer let go of the line (closed the port): any call ends,
  /// without a result, as a modem hangs up when DTR drops.
  void DropDtr();

  /// Lets time pass: ends the escape guard time. Call it at NextDeadline.
  void Tick(std::int64_t now_ms);

  /// When Tick has something to do, or -1.
  std::int64_t NextDeadline() const;

  /// Whether a call is up (in data or in online command mode).
  bool on_line() const { return mode_ != Mode::kOffline; }
  /// Whether bytes go to the terminal.
  bool in_data_mode() const { return mode_ == Mode::kData; }
  /// The number of the last dial.
  const std::string& dialled() const { return dialled_; }
  /// Number of dials, over the run.
  int dials() const { return dials_; }

 private:
  enum class Mode { kOffline, kData, kOnlineCommand };

  void FeedCommand(char c, std::int64_t now_ms);
  void FeedData(char c, std::int64_t now_ms);
  void RunCommand(std::int64_t now_ms);
  void Dial(std::int64_t now_ms);
  void HangUp();
  void Result(std::int64_t due_ms, const char* word);

  ModemBehaviour behaviour_;
  PagingTerminal terminal_;
  Outbox* outbox_;
  Mode mode_ = Mode::kOffline;
  std::string line_;
  bool line_overflow_ = false;
  std::string dialled_;
  int dials_ = 0;
  std::int64_t last_data_ms_ = 0;  // last byte in data mode
  int pluses_ = 0;                 // '+' of a possible escape so far
  std::int64_t escape_due_ms_ = -1;
};

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_HAYES_MODEM_H_
