#ifndef SENTORY_TOOLS_TAP_TERMINAL_PTY_LINE_H_
#define SENTORY_TOOLS_TAP_TERMINAL_PTY_LINE_H_

// The modem's end of the serial line: the master side of a pseudo-terminal,
// with its slave linked where the caller is told to look. Linux only.

#include <cstddef>
#include <string>
#include <string_view>

namespace sentory::tapterm {

/// Largest read from the line at once.
constexpr std::size_t kLineReadBytes = 256;

/// What a read from the line gave.
enum class ReadStatus {
  kData,     ///< bytes arrived
  kNothing,  ///< nothing to read now
  kClosed,   ///< no one has the other side open
};

class PtyLine {
 public:
  PtyLine() = default;
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  /// Closes the line and removes the link.
  ~PtyLine() { Close(); }

  /// Opens a pseudo-terminal in raw mode at 9600 baud and links |link_path|
  /// to its slave (replacing what is there; the folder is made if missing).
  /// Returns false with the reason in |error|.
  bool Open(const std::string& link_path, std::string* error);

  /// Closes the pseudo-terminal and opens a new one at the same link, as a
  /// line that dropped: the other side's handle stops working. Returns false
  /// with the reason in |error|.
  bool Reopen(std::string* error);

  /// Closes the pseudo-terminal and removes the link if it still points to
  /// it.
  void Close();

  /// Throws away what was written to the other side and not read there.
  /// A real serial port forgets its buffers when it is closed; a
  /// pseudo-terminal keeps them for whoever opens it next. Call it once the
  /// other side has closed. Does nothing if the other side is open
  /// exclusively again.
  void DiscardUnread();

  /// Reads what has arrived into |out| (replacing its contents).
  ReadStatus Read(std::string* out);

  /// Writes all of |bytes|, waiting while the other side's buffer is full.
  /// Returns false when the line is not open or the bytes could not go.
  bool Write(std::string_view bytes);

  /// The master's descriptor, -1 when closed.
  int fd() const { return fd_; }
  const std::string& slave_path() const { return slave_path_; }

 private:
  bool OpenPty(std::string* error);
  bool Link(std::string* error);

  int fd_ = -1;
  std::string link_path_;
  std::string slave_path_;
};

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_PTY_LINE_H_
