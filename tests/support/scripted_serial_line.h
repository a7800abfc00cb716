#ifndef SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
#define SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_

#include <deque>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace sentory {

/// One port with a scripted modem behind it. Each read takes the next entry
/// of |replies| (up to the size asked for; the rest stays for the next
/// read), kFails makes that read fail, and an empty script reads nothing,
/// as a silent line does. Every call is recorded in |transcript|: "open
/// COM1", "> atz\r" for a write, "< OK" for a read ("< failed"), "dtr 5",
/// "close".
class ScriptedSerialLine : public SerialPorts {
 public:
  static constexpr const char* kFails = "\xff<fails>";

  void Answer(std::initializer_list<std::string> texts) {
    replies.insert(replies.end(), texts);
  }
  /// All writes joined.
  std::string Written() const;
  /// How many entries of |transcript| begin with |prefix|.
  int Count(const std::string& prefix) const;

  SerialHandle CreateFileA(const char* name) override;
  bool GetCommState(SerialHandle port, Dcb* out) override;
  bool SetCommState(SerialHandle port, const Dcb& in) override;
  bool GetCommTimeouts(SerialHandle port, CommTimeouts* out) override;
  bool SetCommTimeouts(SerialHandle port, const CommTimeouts& in) override;
  bool EscapeCommFunction(SerialHandle port, int function) override;
  bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                std::uint32_t* read) override;
  bool WriteFile(SerialHandle port, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  bool CloseHandle(SerialHandle port) override;

  std::deque<std::string> replies;
  std::vector<std::string> transcript;
  std::vector<std::uint32_t> read_sizes;
  bool open_fails = false, set_state_fails = false, write_fails = false;
  bool get_state_fails = false, get_timeouts_fails = false;
  bool open = false;
  /// Each open gets a handle of its own: 7, then 8, ...
  SerialHandle handle = 6;
  Dcb dcb;                ///< the line settings last applied
  CommTimeouts timeouts;  ///< the time-outs last applied

 private:
  bool Open(SerialHandle port) const { return open && port == handle; }
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
