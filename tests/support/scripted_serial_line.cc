#include "tests/support/scripted_serial_line.h"

#include <algorithm>
#include <cstring>

namespace sentory {

void ScriptedSerialLine::Answer(std::initializer_list<std::string> texts) {
  for (const std::string& text : texts) replies.push_back({text, false});
}

void ScriptedSerialLine::AnswerSilence(int reads) {
  for (int i = 0; i < reads; ++i) replies.push_back({"", false});
}

void ScriptedSerialLine::AnswerFailure() { replies.push_back({"", true}); }

std::string ScriptedSerialLine::Written() const {
  std::string all;
  for (const std::string& entry : transcript) {
    if (entry.compare(0, 2, "> ") == 0) all += entry.substr(2);
  }
  return all;
}

std::vector<std::string> ScriptedSerialLine::Entries(
    const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : transcript) {
    if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
  }
  return found;
}

SerialHandle ScriptedSerialLine::CreateFileA(const char* name) {
  transcript.push_back(std::string("open ") + name);
  if (open_fails || open) return kInvalidSerialHandle;
  open = true;
  ++opens;
  return kPort;
}

bool ScriptedSerialLine::GetCommState(SerialHandle port, Dcb* out) {
  if (!Check(port)) return false;
  *out = dcb;
  return true;
}

bool ScriptedSerialLine::SetCommState(SerialHandle port, const Dcb& in) {
  if (!Check(port) || set_state_fails) return false;
  dcb = in;
  return true;
}

bool ScriptedSerialLine::GetCommTimeouts(SerialHandle port, CommTimeouts* out) {
  if (!Check(port)) return false;
  *out = timeouts;
  return true;
}

bool ScriptedSerialLine::SetCommTimeouts(SerialHandle port,
                                         const CommTimeouts& in) {
  if (!Check(port)) return false;
  timeouts = in;
  return true;
}

bool ScriptedSerialLine::EscapeCommFunction(SerialHandle port, int function) {
  transcript.push_back("dtr " + std::to_string(function));
  // A pseudo-terminal has no DTR: the call fails, harmlessly.
  (void)port;
  return false;
}

bool ScriptedSerialLine::ReadFile(SerialHandle port, void* buffer,
                                  std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  read_sizes.push_back(size);
  if (!Check(port)) return false;
  if (replies.empty()) {
    transcript.push_back("< ");
    return true;
  }
  Reply& reply = replies.front();
  if (reply.fails) {
    replies.pop_front();
    transcript.push_back("< failed");
    return false;
  }
  std::size_t count = std::min<std::size_t>(size, reply.bytes.size());
  std::memcpy(buffer, reply.bytes.data(), count);
  *read = static_cast<std::uint32_t>(count);
  transcript.push_back("< " + reply.bytes.substr(0, count));
  if (count < reply.bytes.size()) {
    reply.bytes.erase(0, count);
  } else {
    replies.pop_front();
  }
  return true;
}

bool ScriptedSerialLine::WriteFile(SerialHandle port, const void* data,
                                   std::uint32_t size, std::uint32_t* written) {
  *written = 0;
  if (!Check(port)) return false;
  transcript.push_back("> " +
                       std::string(static_cast<const char*>(data), size));
  if (write_fails) return false;
  *written = size;
  return true;
}

bool ScriptedSerialLine::CloseHandle(SerialHandle port) {
  if (!Check(port)) return false;
  transcript.push_back("close");
  open = false;
  return true;
}

}  // namespace sentory
