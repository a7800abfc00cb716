#ifndef SENTORY_APP_OUTPUT_STREAM_H_
#define SENTORY_APP_OUTPUT_STREAM_H_

#include <initializer_list>
#include <string_view>

#include "platform/console.h"

namespace sentory {

/// Where every line of the program goes: standard output, which is the
/// console until a log file takes its place. A line is written as its pieces
/// one after the other, then a line end, and flushed at once.
///
/// Writing allocates nothing, so the out-of-memory path can use it. Used by
/// the main thread only: the console control thread never touches it, so a
/// write blocked on a full pipe holds nothing that thread waits for.
class OutputStream {
 public:
  explicit OutputStream(Console& console) : console_(console) {}

  /// Writes |pieces| and a line end, then flushes.
  void Line(std::initializer_list<std::string_view> pieces);

  /// Writes |text| without a line end, then flushes; for output whose line
  /// is built up over time, such as a protocol trace.
  void Write(std::string_view text);

  /// Switches standard output to the file at |path|, appended to. Returns
  /// false, with the console still in place, when the file cannot be opened.
  bool OpenLogFile(const char* path);
  bool log_file_open() const { return log_file_open_; }

  /// Flushes, closes the log file if one is open, and refuses all further
  /// output. Never returns the stream to a usable state.
  void Close();

 private:
  Console& console_;
  bool closed_ = false;
  bool log_file_open_ = false;
};

}  // namespace sentory

#endif  // SENTORY_APP_OUTPUT_STREAM_H_
