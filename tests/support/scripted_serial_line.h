#ifndef SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
#define SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace sentory {

/// A serial port with a scripted modem behind it. Each read takes the next
/// reply of |replies| (up to the size asked for; the rest stays for the
/// next read); once the script is used up, reads return nothing, as a
/// silent line does. Everything the program does to the port is recorded
/// in |transcript|, one entry per call: "open COM1", "> atz\r" for a write,
/// "< OK\r\n" for a read ("< " alone when nothing came, "< failed" for a
/// failed read), "dtr 5", "close".
class ScriptedSerialLine : public SerialPorts {
 public:
  struct Reply {
    std::string bytes;
    bool fails = false;  ///< the read fails as on a device error
  };

  /// Appends replies to the script.
  void Answer(std::initializer_list<std::string> replies);
  void AnswerSilence(int reads);  ///< that many empty reads
  void AnswerFailure();           ///< one failed read

  /// What was written, all writes joined.
  std::string Written() const;
  /// The entries of |transcript| that begin with |prefix|.
  std::vector<std::string> Entries(const std::string& prefix) const;

  SerialHandle CreateFileA(const char* name) override;
  bool GetCommState(SerialHandle port, Dcb* dcb) override;
  bool SetCommState(SerialHandle port, const Dcb& dcb) override;
  bool GetCommTimeouts(SerialHandle port, CommTimeouts* timeouts) override;
  bool SetCommTimeouts(SerialHandle port,
                       const CommTimeouts& timeouts) override;
  bool EscapeCommFunction(SerialHandle port, int function) override;
  bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                std::uint32_t* read) override;
  bool WriteFile(SerialHandle port, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  bool CloseHandle(SerialHandle port) override;

  std::deque<Reply> replies;
  std::vector<std::string> transcript;
  std::vector<std::uint32_t> read_sizes;
  bool open_fails = false;
  bool set_state_fails = false;
  bool write_fails = false;
  Dcb dcb;                ///< the line settings last applied
  CommTimeouts timeouts;  ///< the time-outs last applied
  bool open = false;
  int opens = 0;

 private:
  bool Check(SerialHandle port) const { return open && port == kPort; }
  static constexpr SerialHandle kPort = 7;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
