#ifndef SENTORY_PAGING_MODEM_LINK_H_
#define SENTORY_PAGING_MODEM_LINK_H_

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace sentory {

/// The longest port name a ComSettings holds, and the size of the link's
/// response buffer: each read takes at most kModemReadSize bytes and a NUL.
constexpr std::size_t kPortNameLength = 15;
constexpr std::size_t kModemBufferSize = 128;
constexpr std::uint32_t kModemReadSize = kModemBufferSize - 1;

/// The port settings of "/C": "COMx,baud,bits,parity,stop".
struct ComSettings {
  char port_name[kPortNameLength + 1] = "COM1";
  std::int32_t baud_rate = 9600;
  std::uint8_t data_bits = 8;
  std::uint8_t parity = 0;     ///< 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stop_bits = 0;  ///< 0 one stop bit, 2 two
};

/// Reads a "/C" value: the text is uppercased and split at commas, with
/// leading commas skipped and a run of commas taken as one separator; the
/// fields are the port name (cut to kPortNameLength), the baud rate and the
/// data bits (as atoi reads them), the parity by its first letter (N, O, E,
/// M, S) and the stop bits by their first character (1 or 2). Missing or
/// unknown fields keep their defaults. Never fails.
ComSettings ParseComSettings(const char* text);

/// The serial port and the Hayes modem behind it through which pages reach
/// the paging terminal. Prints nothing: every failure is a result of 1.
/// Every pause goes through the clock, so tests never wait.
class ModemLink {
 public:
  /// Takes the port settings from the "/C" text |com_settings|; the link
  /// starts idle. Opens nothing.
  ModemLink(SerialPorts& ports, Clock& clock, const char* com_settings);

  /// Opens and configures the port, raises DTR and dials |phone|. Returns 0
  /// with the line up, or 1 with the port closed again (after the full
  /// hang-up dialogue when the dial had begun).
  int Connect(const char* phone);

  /// Resets the modem with "atz" and dials |phone| with "atdt". Returns 0 on
  /// CONNECT; 1 on a failed read or write, BUSY, NO DIALTONE, NO CARRIER, or
  /// no verdict in time. Sets the connected flag before it sends anything.
  int Dial(const char* phone);

  /// Escapes to command mode, hangs up, drops DTR and closes the port.
  /// Does nothing when not connected. Always returns 0.
  int HangUp();

  /// 1 while the port is open and the modem may be off hook, else 0.
  int IsConnected() const { return connected_; }

  /// The open port, for the TAP exchange; kInvalidSerialHandle when idle.
  SerialHandle PortHandle() const { return port_; }

  /// The serial port service the link opens its port through.
  SerialPorts& ports() { return ports_; }
  const ComSettings& settings() const { return settings_; }

 private:
  // Reads up to kModemReadSize bytes into the buffer, NUL-terminates and
  // uppercases them. Returns false on a failed read.
  bool ReadResponse();
  // Writes the first |size| bytes of the buffer. Returns false on failure.
  bool WriteBuffer(std::uint32_t size);
  // Waits for "OK" after an escape or hang-up command, up to five reads.
  void WaitForOk();

  SerialPorts& ports_;
  Clock& clock_;
  ComSettings settings_;
  int connected_ = 0;
  SerialHandle port_ = kInvalidSerialHandle;
  char buffer_[kModemBufferSize] = {};
};

}  // namespace sentory

#endif  // SENTORY_PAGING_MODEM_LINK_H_
