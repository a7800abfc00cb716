#include "runner/alert_program.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace sentory {
namespace {

// Digits of the largest 32-bit error code.
constexpr std::size_t kErrorCodeDigits = 10;

// Length of |text| counted up to |limit| characters at most.
std::size_t BoundedLength(const char* text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

// The command line as it is formed. Text is added only while it fits in
// front of the closing quote and the terminator, so the buffer is never
// overrun whatever the caller hands in.
class CommandLine {
 public:
  // Characters left before the closing quote.
  std::size_t room() const { return kMaxBeforeClosingQuote - length_; }

  // Appends |text| whole; returns false, adding nothing, when it does not
  // fit.
  bool Append(std::string_view text) {
    if (text.size() > room()) return false;
    std::memcpy(buffer_ + length_, text.data(), text.size());
    length_ += text.size();
    return true;
  }

  // Appends the inside of a quoted argument: |text| with each double quote
  // turned into a single quote, and the backslashes at its end doubled so
  // that the closing quote that follows stays a quote. A text longer than
  // the room left is cut to fit, never between a backslash and
  // its double. Returns false, adding nothing, when |whole| is set and the
  // text would be cut.
  bool AppendArgument(const char* text, bool whole) {
    std::size_t limit = room();
    std::size_t length = BoundedLength(text, limit + 1);
    bool cut = length > limit;
    if (cut) length = limit;
    std::size_t backslashes = 0;
    while (backslashes < length && text[length - 1 - backslashes] == '\\') {
      ++backslashes;
    }
    if (length + backslashes > limit) {
      // Drop enough of the final backslashes that the rest fit doubled.
      std::size_t dropped = (length + backslashes - limit + 1) / 2;
      length -= dropped;
      backslashes -= dropped;
      cut = true;
    }
    if (cut && whole) return false;
    for (std::size_t i = 0; i < length; ++i) {
      buffer_[length_++] = text[i] == '"' ? '\'' : text[i];
    }
    for (std::size_t i = 0; i < backslashes; ++i) buffer_[length_++] = '\\';
    return true;
  }

  // Ends the line with the closing quote; always fits.
  char* Close() {
    buffer_[length_++] = '"';
    buffer_[length_] = '\0';
    return buffer_;
  }

 private:
  static constexpr std::size_t kMaxBeforeClosingQuote =
      kAlertCommandLineSize - 2;

  char buffer_[kAlertCommandLineSize] = {};
  std::size_t length_ = 0;
};

}  // namespace

int RunAlertProgram(ProcessLauncher& launcher, OutputStream& out,
                    const char* program, const char* event_time,
                    const char* alert_text) {
  out.Line({" Running: ", program});

  // program "time" "text": the program is quoted only when it holds a blank
  // (a tab does not count).
  CommandLine line;
  bool quote_program = std::strchr(program, ' ') != nullptr;
  bool fits = (!quote_program || line.Append("\"")) && line.Append(program) &&
              (!quote_program || line.Append("\"")) && line.Append(" \"") &&
              line.AppendArgument(event_time, true) && line.Append("\" \"");
  if (!fits) {
    out.Line({program, " - command line too long"});
    return 1;
  }
  line.AppendArgument(alert_text, false);

  ProcessLauncher::ProcessInformation started;
  if (!launcher.CreateProcessA(line.Close(), &started)) {
    char code[kErrorCodeDigits];
    std::uint32_t error = launcher.GetLastError();
    auto result = std::to_chars(code, code + sizeof(code), error);
    out.Line(
        {program, " - CreateProcess failed. system error ",
         std::string_view(code, static_cast<std::size_t>(result.ptr - code))});
    return 1;
  }
  launcher.WaitForSingleObject(started.process);
  launcher.CloseHandle(started.process);
  launcher.CloseHandle(started.thread);
  return 0;
}

}  // namespace sentory
