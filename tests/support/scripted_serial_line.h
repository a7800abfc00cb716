#ifndef SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
#define SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_

#include <deque>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace sentory {

/// A port whose reads take the next of |replies| (kFails fails; none: silence)
/// and whose |transcript| holds "open COM1", "> atz\r", "< OK", "dtr 5"...
class ScriptedSerialLine : public SerialPorts {
 public:
  static constexpr const char* kFails = "\xff<fails>";

  void Answer(std::initializer_list<std::string> texts) {
    replies.insert(replies.end(), texts);
  }
  /// How many entries of |transcript| begin with |prefix|.
  int Count(const std::string& prefix) const;

  SerialHandle CreateFileA(const char* name) override;
  bool GetCommState(SerialHandle port, Dcb* out) override {
    return *out = dcb, Open(port) && !get_state_fails;
  }
  bool SetCommState(SerialHandle port, const Dcb& in) override {
    return dcb = in, Open(port) && !set_state_fails;
  }
  bool GetCommTimeouts(SerialHandle port, CommTimeouts* out) override {
    return *out = timeouts, Open(port) && !get_timeouts_fails;
  }
  bool SetCommTimeouts(SerialHandle port, const CommTimeouts& in) override {
    return timeouts = in, Open(port);
  }
  // Fails as on a pseudo-terminal, which has no DTR.
  bool EscapeCommFunction(SerialHandle, int function) override {
    transcript.push_back("dtr " + std::to_string(function));
    return false;
  }
  bool ReadFile(SerialHandle port, void* buffer, std::uint32_t size,
                std::uint32_t* read) override;
  bool WriteFile(SerialHandle port, const void* data, std::uint32_t size,
                 std::uint32_t* done) override;
  bool CloseHandle(SerialHandle port) override;

  std::deque<std::string> replies;
  std::vector<std::string> transcript;
  std::string written;  ///< all writes joined
  bool open_fails = false, set_state_fails = false, write_fails = false;
  bool get_state_fails = false, get_timeouts_fails = false, open = false;
  SerialHandle handle = 6;  ///< each open gets the next: 7, 8, ...
  Dcb dcb;                  ///< the line settings last applied
  CommTimeouts timeouts;    ///< the time-outs last applied

 private:
  bool Open(SerialHandle port) const { return open && port == handle; }
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_SCRIPTED_SERIAL_LINE_H_
