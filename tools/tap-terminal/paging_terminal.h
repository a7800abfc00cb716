#ifndef SENTORY_TOOLS_TAP_TERMINAL_PAGING_TERMINAL_H_
#define SENTORY_TOOLS_TAP_TERMINAL_PAGING_TERMINAL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/tap-terminal/outbox.h"

namespace sentory::tapterm {

/// Largest block kept (from STX through the CR after the checksum); a longer
/// one is answered with NAK.
constexpr std::size_t kMaxBlockBytes = 1024;
/// Largest logon sequence kept after ESC.
constexpr std::size_t kMaxLogonBytes = 16;
/// Largest password in a logon sequence.
constexpr std::size_t kMaxPasswordLength = 6;

/// The ways the terminal can be told to misbehave. Counts are spent over the
/// whole run, across calls.
struct TerminalBehaviour {
  bool silent = false;           ///< never sends a byte
  int late_id_crs = 0;           ///< CRs ignored in each call before ID=
  std::int64_t id_delay_ms = 0;  ///< ID= sent this long after its CR
  int nak_logons = 0;            ///< logons answered NAK
  bool refuse_logon = false;     ///< logons answered ESC EOT, then hang-up
  int nak_blocks = 0;            ///< good blocks answered NAK
  bool rs_pin_set = false;       ///< blocks for |rs_pin| answered RS
  std::string rs_pin;
  int wrong_replies = 0;  ///< block answers carrying |wrong_byte|
  char wrong_byte = '?';
  long drop_after = -1;  ///< the line drops once this many bytes
                         ///< of a block arrived, once (-1: never)
  bool hang_up_after_logoff = false;
};

/// What the terminal asks of the modem after a byte.
enum class TerminalEvent {
  kNone,
  kHangUp,  ///< drop the call (carrier lost)
};

/// A paging terminal speaking the alphanumeric paging protocol behind the
/// modem: ID= on a CR, the logon, page blocks checked against their checksum,
/// the logoff. Accepted pages go to the outbox.
class PagingTerminal {
 public:
  PagingTerminal(const TerminalBehaviour& behaviour, Outbox* outbox)
      : behaviour_(behaviour), outbox_(outbox) {}

  /// Starts a new call: waits for the caller's CR.
  void Answer();

  /// Takes one byte from the caller, received at |now_ms|.
  TerminalEvent Feed(char c, std::int64_t now_ms);

 private:
  enum class State {
    kWaitCr,     // before ID=
    kWaitLogon,  // ID= sent, waiting for ESC
    kLogon,      // inside ESC ... CR
    kReady,      // go-ahead sent: blocks or the logoff
    kBlock,      // inside STX ... end mark
    kChecksum,   // the checksum characters and CR
    kLogoff,     // EOT received, waiting for CR
    kDone,       // logged off
  };

  void Reply(char c, std::int64_t now_ms);
  TerminalEvent EndLogon(std::int64_t now_ms);
  TerminalEvent CountBlockByte();
  void EndBlock(std::int64_t now_ms);
  void AcceptTransaction();

  TerminalBehaviour behaviour_;
  Outbox* outbox_;
  State state_ = State::kWaitCr;
  int crs_seen_ = 0;
  std::int64_t id_due_ms_ = 0;
  std::string logon_;
  std::string block_;
  std::string transaction_;  // bodies of the blocks of one transaction
  long block_bytes_ = 0;
};

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_PAGING_TERMINAL_H_
