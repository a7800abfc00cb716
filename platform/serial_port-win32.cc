// The serial ports on Windows. Only Win32 and C++ standard library code may
// live here.

#include <windows.h>

#include "platform/serial_port.h"

namespace sentory {
namespace {

HANDLE ToHandle(SerialHandle port) { return reinterpret_cast<HANDLE>(port); }

class Win32SerialPorts : public SerialPorts {
 public:
  SerialHandle CreateFileA(const char* name) override {
    HANDLE handle = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidSerialHandle;
    return reinterpret_cast<SerialHandle>(handle);
  }

  bool GetCommState(SerialHandle port, Dcb* dcb) override {
    DCB state = {};
    state.DCBlength = sizeof(state);
    if (!::GetCommState(ToHandle(port), &state)) return false;
    dcb->BaudRate = state.BaudRate;
    dcb->ByteSize = state.ByteSize;
    dcb->Parity = state.Parity;
    dcb->StopBits = state.StopBits;
    return true;
  }

  // The driver's other settings (flow control, DTR and RTS control, special
  // characters) are read back and handed in again unchanged.
  bool SetCommState(SerialHandle port, const Dcb& dcb) override {
    DCB state = {};
    state.DCBlength = sizeof(state);
    if (!::GetCommState(ToHandle(port), &state)) return false;
    state.BaudRate = dcb.BaudRate;
    state.ByteSize = dcb.ByteSize;
    state.Parity = dcb.Parity;
    state.StopBits = dcb.StopBits;
    return ::SetCommState(ToHandle(port), &state) != 0;
  }

  bool GetCommTimeouts(SerialHandle port, CommTimeouts* timeouts) override {
    COMMTIMEOUTS t = {};
    if (!::GetCommTimeouts(ToHandle(port), &t)) return false;
    timeouts->ReadIntervalTimeout = t.ReadIntervalTimeout;
    timeouts->ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts->ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts->WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts->WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return true;
  }

  bool SetCommTimeouts(SerialHandle port,
                       const CommTimeouts& timeouts) override {
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(ToHandle(port), &t) != 0;
  }

  bool EscapeCommFunction(SerialHandle port, int function) override {
    return ::EscapeCommFunction(ToHandle(port), static_cast<DWORD>(function)) !=
           0;
  }

  bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                std::uint32_t* read) override {
    DWORD count = 0;
    BOOL ok = ::ReadFile(ToHandle(port), buffer, size, &count, nullptr);
    *read = count;
    return ok != 0;
  }

  bool WriteFile(SerialHandle port, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    DWORD count = 0;
    BOOL ok = ::WriteFile(ToHandle(port), data, size, &count, nullptr);
    *written = count;
    return ok != 0;
  }

  bool CloseHandle(SerialHandle port) override {
    return ::CloseHandle(ToHandle(port)) != 0;
  }
};

}  // namespace

std::unique_ptr<SerialPorts> MakeSystemSerialPorts() {
  return std::make_unique<Win32SerialPorts>();
}

}  // namespace sentory
