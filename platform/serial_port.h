#ifndef SENTORY_PLATFORM_SERIAL_PORT_H_
#define SENTORY_PLATFORM_SERIAL_PORT_H_

#include <cstdint>
#include <memory>

namespace sentory {

/// An open serial port: the platform's handle, or kInvalidSerialHandle.
using SerialHandle = std::intptr_t;
constexpr SerialHandle kInvalidSerialHandle = -1;

/// The line settings of a port (the fields of the platform's DCB that the
/// program sets). Parity uses the codes 0 none, 1 odd, 2 even, 3 mark,
/// 4 space; StopBits 0 one, 1 one and a half, 2 two.
struct Dcb {
  std::uint32_t BaudRate = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
};

/// The read and write time-outs of a port, in milliseconds, as the platform's
/// COMMTIMEOUTS: a read of up to n bytes returns once n bytes have arrived,
/// once ReadIntervalTimeout passes between two bytes, or once
/// ReadTotalTimeoutMultiplier * n + ReadTotalTimeoutConstant has passed,
/// with what has arrived. A zero interval, or a zero total, is not used.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

/// The codes of EscapeCommFunction that raise and drop DTR.
constexpr int kSetDtr = 5;
constexpr int kClrDtr = 6;

/// The serial ports of this machine. Abstract so tests can script a line
/// instead of opening a device; MakeSystemSerialPorts() gives the real ones.
class SerialPorts {
 public:
  virtual ~SerialPorts() = default;

  /// Opens the port |name| ("COM1") for reading and writing, unshared, with
  /// synchronous input and output. Returns kInvalidSerialHandle when the
  /// port does not exist, is in use or cannot be opened.
  virtual SerialHandle CreateFileA(const char* name) = 0;

  /// Reads the line settings into |dcb|. Returns false on failure.
  virtual bool GetCommState(SerialHandle port, Dcb* dcb) = 0;
  /// Applies the line settings; every setting of the port that Dcb does not
  /// hold stays as it is. Returns false when the port refuses them.
  virtual bool SetCommState(SerialHandle port, const Dcb& dcb) = 0;

  /// Reads the time-outs into |timeouts|. Returns false on failure.
  virtual bool GetCommTimeouts(SerialHandle port, CommTimeouts* timeouts) = 0;
  /// Applies the time-outs. Returns false on failure.
  virtual bool SetCommTimeouts(SerialHandle port,
                               const CommTimeouts& timeouts) = 0;

  /// Raises (kSetDtr) or drops (kClrDtr) DTR. Returns false when the port
  /// has no DTR line or refuses.
  virtual bool EscapeCommFunction(SerialHandle port, int function) = 0;

  /// Reads up to |size| bytes into |buffer| within the time-outs and sets
  /// |*read| to the count, which may be 0. Returns false only on a device
  /// error (such as a line that has gone away).
  virtual bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                        std::uint32_t* read) = 0;

  /// Writes |size| bytes within the write time-outs and sets |*written| to
  /// the count written. Returns false on a device error.
  virtual bool WriteFile(SerialHandle port, const void* data,
                         std::uint32_t size, std::uint32_t* written) = 0;

  /// Closes the port. Returns false when |port| is not open.
  virtual bool CloseHandle(SerialHandle port) = 0;
};

/// The serial ports of this machine.
std::unique_ptr<SerialPorts> MakeSystemSerialPorts();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_SERIAL_PORT_H_
