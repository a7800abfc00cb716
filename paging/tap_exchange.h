#ifndef SENTORY_PAGING_TAP_EXCHANGE_H_
#define SENTORY_PAGING_TAP_EXCHANGE_H_

#include <cstddef>
#include <cstdint>

#include "app/output_stream.h"
#include "platform/serial_port.h"

namespace sentory {

/// The exchange's buffer: at most kTapReadSize characters (a full page
/// block, or one response) and a NUL.
constexpr std::uint32_t kTapReadSize = 256;
constexpr std::size_t kTapBufferSize = kTapReadSize + 1;
/// STX, the PIN, its CR and the message stay within this many characters.
constexpr std::size_t kTapBlockTextLimit = 250;
/// The longest PIN that leaves the block room; longer PINs are cut.
constexpr std::size_t kTapMaxPinLength = kTapBlockTextLimit - 2;

/// Appends the block check of the NUL-terminated |block| (every character
/// taken as a signed 8-bit value, summed in 16 bits; bits 11-8, 7-4 and 3-0
/// each as 0x30 plus the value) and a CR. Appends nothing when |capacity|
/// leaves no room for the four characters and the NUL.
void AppendChecksum(char* block, std::size_t capacity);

/// One logon to a paging terminal over the port of a connected modem link,
/// speaking the Telocator Alphanumeric Protocol: wake-up CR until "ID=",
/// logon ESC "PG1" CR, one block per page, logoff EOT CR. Lives from the
/// connect that created it to the next hang-up; never opens or closes the
/// port. Prints nothing but the trace, when tracing is on.
class TapExchange {
 public:
  /// Starts in state 0 on the open |port|. With |trace|, every step is
  /// written to |out|.
  TapExchange(SerialPorts& ports, SerialHandle port, bool trace,
              OutputStream& out);

  /// Delivers one page: |text| to the pager |pin|, waking the terminal and
  /// logging on first when the exchange is not logged on. Every character
  /// of |text| that is not printable (0x20 to 0x7E) is replaced by '.' in
  /// place. Returns 0 when the terminal accepted the page, 1 when it did
  /// not (refused, a block answered NAK four times, no answer, a failed
  /// read). After a refused block the exchange stays logged on.
  int SendPage(const char* pin, char* text);

  /// Logs off. Returns 0 when the terminal answered with ESC, 1 otherwise;
  /// the exchange is in state 0 afterwards.
  int LogOff();

  /// The protocol state, 0 to 7.
  std::uint32_t state() const { return state_; }

 private:
  // Runs the state machine until a state returns a result.
  int Run(const char* pin, char* text);
  // Writes the first |length| characters of the buffer, moves to |next|
  // and traces the text sent.
  void Send(std::size_t length, std::uint32_t next);
  // Reads the response into the buffer. Returns false, with state 0, when
  // the call must end with 1.
  bool ReadStep();
  // Builds the page block in the buffer and returns its length.
  std::size_t BuildBlock(const char* pin, char* text);
  // The reply byte: the first of the response, or the second after a CR.
  char ReplyByte() const;
  // Writes one trace record: kind 1 sent, 0 received, -1 state alone.
  void TraceStep(int kind);

  SerialPorts& ports_;
  std::uint32_t state_ = 0;
  SerialHandle port_;
  bool trace_;
  char buffer_[kTapBufferSize] = {};
  OutputStream& out_;
};

}  // namespace sentory

#endif  // SENTORY_PAGING_TAP_EXCHANGE_H_
