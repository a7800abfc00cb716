#include "tests/support/scripted_serial_line.h"

#include <cstring>

namespace sentory {

std::string ScriptedSerialLine::Written() const {
  std::string all;
  for (const std::string& entry : transcript) {
    if (entry.compare(0, 2, "> ") == 0) all += entry.substr(2);
  }
  return all;
}

int ScriptedSerialLine::Count(const std::string& prefix) const {
  int count = 0;
  for (const std::string& entry : transcript) {
    if (entry.compare(0, prefix.size(), prefix) == 0) ++count;
  }
  return count;
}

SerialHandle ScriptedSerialLine::CreateFileA(const char* name) {
  transcript.push_back(std::string("open ") + name);
  if (open_fails || open) return kInvalidSerialHandle;
  open = true;
  return ++handle;
}

bool ScriptedSerialLine::GetCommState(SerialHandle port, Dcb* out) {
  *out = dcb;
  return Open(port) && !get_state_fails;
}

bool ScriptedSerialLine::SetCommState(SerialHandle port, const Dcb& in) {
  dcb = in;
  return Open(port) && !set_state_fails;
}

bool ScriptedSerialLine::GetCommTimeouts(SerialHandle port, CommTimeouts* out) {
  *out = timeouts;
  return Open(port) && !get_timeouts_fails;
}

bool ScriptedSerialLine::SetCommTimeouts(SerialHandle port,
                                         const CommTimeouts& in) {
  timeouts = in;
  return Open(port);
}

// Fails as on a pseudo-terminal, which has no DTR.
bool ScriptedSerialLine::EscapeCommFunction(SerialHandle, int function) {
  transcript.push_back("dtr " + std::to_string(function));
  return false;
}

bool ScriptedSerialLine::ReadFile(SerialHandle port, void* buffer,
                                  std::uint32_t size, std::uint32_t* read) {
  read_sizes.push_back(size);
  std::string reply = replies.empty() ? "" : replies.front();
  if (!replies.empty()) replies.pop_front();
  if (reply.size() > size) {
    replies.push_front(reply.substr(size));
    reply.resize(size);
  }
  bool fails = !Open(port) || reply == kFails;
  transcript.push_back(fails ? "< failed" : "< " + reply);
  *read = fails ? 0 : static_cast<std::uint32_t>(reply.size());
  if (!fails) std::memcpy(buffer, reply.data(), reply.size());
  return !fails;
}

bool ScriptedSerialLine::WriteFile(SerialHandle port, const void* data,
                                   std::uint32_t size, std::uint32_t* written) {
  transcript.push_back("> " +
                       std::string(static_cast<const char*>(data), size));
  bool ok = Open(port) && !write_fails;
  *written = ok ? size : 0;
  return ok;
}

bool ScriptedSerialLine::CloseHandle(SerialHandle port) {
  if (!Open(port)) return false;
  transcript.push_back("close");
  open = false;
  return true;
}

}  // namespace sentory
