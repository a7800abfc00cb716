#ifndef SENTORY_TOOLS_TAP_TERMINAL_OUTBOX_H_
#define SENTORY_TOOLS_TAP_TERMINAL_OUTBOX_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sentory::tapterm {

/// Bytes to write on the line, not before |due_ms|. An entry with
/// |close_line| set asks for the line itself to be closed (a hang-up that the
/// other side sees as a broken device) once the bytes before it are written.
struct LineOutput {
  std::int64_t due_ms = 0;
  std::string bytes;
  bool close_line = false;
};

/// A page that the terminal accepted.
struct Page {
  std::string pin;
  std::string message;
};

/// What the modem and the terminal produce, in order; the caller empties it.
struct Outbox {
  /// Queues |bytes| to be written at |due_ms| or after what is queued before.
  void Send(std::int64_t due_ms, std::string bytes) {
    line.push_back({due_ms, std::move(bytes), false});
  }

  std::vector<LineOutput> line;
  std::vector<Page> pages;
};

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_OUTBOX_H_
