#include "tests/support/scripted_serial_line.h"

namespace sentory {

int ScriptedSerialLine::Count(const std::string& prefix) const {
  int count = 0;
  for (const std::string& entry : transcript) {
    count += entry.compare(0, prefix.size(), prefix) == 0;
  }
  return count;
}

SerialHandle ScriptedSerialLine::CreateFileA(const char* name) {
  transcript.push_back(std::string("open ") + name);
  if (open_fails || open) return kInvalidSerialHandle;
  open = true;
  return ++handle;
}

bool ScriptedSerialLine::ReadFile(SerialHandle port, void* buffer,
                                  std::uint32_t size, std::uint32_t* read) {
  std::string reply = replies.empty() ? "" : replies.front();
  if (!replies.empty()) replies.pop_front();
  bool fails = !Open(port) || reply == kFails;
  transcript.push_back(fails ? "< failed" : "< " + reply);
  *read = fails ? 0 : reply.copy(static_cast<char*>(buffer), size);
  return !fails;
}

bool ScriptedSerialLine::WriteFile(SerialHandle port, const void* data,
                                   std::uint32_t size, std::uint32_t* done) {
  std::string bytes(static_cast<const char*>(data), size);
  transcript.push_back("> " + bytes);
  written += bytes;
  *done = Open(port) && !write_fails ? size : 0;
  return *done == size;
}

bool ScriptedSerialLine::CloseHandle(SerialHandle port) {
  if (!Open(port)) return false;
  transcript.push_back("close");
  open = false;
  return true;
}

}  // namespace sentory
