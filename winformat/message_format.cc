#include "winformat/message_format.h"

namespace sentory {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The flags, width and precision of one !printf-format!.
struct InsertFormat {
  bool left = false;
  bool zero = false;
  std::size_t width = 0;
  std::size_t precision = std::string_view::npos;
  bool empty = false;  // no conversion: the insert gives nothing
};

// Reads the !printf-format! that begins at message[*i] (just after its
// opening "!") and moves *i past its closing "!". False when there is no
// closing "!". Signs and "#" mean nothing to a string; a "*" would take its
// number from the argument array, which holds only texts, and is passed
// over.
bool ReadInsertFormat(std::string_view message, std::size_t* i,
                      InsertFormat* out) {
  InsertFormat& format = *out;
  std::size_t at = *i;
  auto more = [&] { return at < message.size(); };
  while (more() && std::string_view("0+- *#").find(message[at]) !=
                       std::string_view::npos) {
    if (message[at] == '-') format.left = true;
    if (message[at] == '0') format.zero = true;
    ++at;
  }
  while (more() && IsDigit(message[at])) {
    format.width =
        format.width * 10 + static_cast<std::size_t>(message[at] - '0');
    if (format.width > 0xFFFF) format.width = 0xFFFF;
    ++at;
  }
  if (more() && message[at] == '.') {
    ++at;
    format.precision = 0;
    if (more() && message[at] == '*') {
      ++at;
      format.precision = std::string_view::npos;
    }
    while (more() && IsDigit(message[at])) {
      format.precision =
          format.precision * 10 + static_cast<std::size_t>(message[at] - '0');
      if (format.precision > 0xFFFF) format.precision = 0xFFFF;
      ++at;
    }
  }
  std::size_t close = message.find('!', at);
  if (close == std::string_view::npos) return false;
  format.empty = close == at;
  *i = close + 1;
  return true;
}

void AppendFormatted(std::string_view text, const InsertFormat& format,
                     std::string* out) {
  if (format.empty) return;
  text = text.substr(0, format.precision);
  std::size_t pad = format.width > text.size() ? format.width - text.size() : 0;
  if (format.left) {
    out->append(text);
    out->append(pad, ' ');
  } else {
    out->append(pad, format.zero ? '0' : ' ');
    out->append(text);
  }
}

}  // namespace

bool FormatMessageText(std::string_view message, std::uint32_t width,
                       const char* const* arguments,
                       std::uint32_t argument_count, std::string* out) {
  if (width != 0 && width != kMaxWidthMask) return false;
  const char* line_break = width == 0 ? "\r\n" : " ";
  out->clear();
  std::size_t i = 0;
  while (i < message.size()) {
    char c = message[i++];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i < message.size() && message[i] == '\n') ++i;
      out->append(line_break);
      continue;
    }
    if (c != '%') {
      out->push_back(c);
      continue;
    }
    if (i == message.size()) return false;
    char d = message[i++];
    if (d >= '1' && d <= '9') {
      std::uint32_t insert = static_cast<std::uint32_t>(d - '0');
      if (i < message.size() && IsDigit(message[i])) {
        insert = insert * 10 + static_cast<std::uint32_t>(message[i++] - '0');
      }
      std::string missing;
      std::string_view text;
      if (insert <= argument_count && arguments[insert - 1] != nullptr) {
        text = arguments[insert - 1];
      } else if (insert <= argument_count) {
        text = "(null)";
      } else {
        missing = "%" + std::to_string(insert);
        text = missing;
      }
      InsertFormat format;
      if (i < message.size() && message[i] == '!') {
        ++i;
        if (!ReadInsertFormat(message, &i, &format)) return false;
      }
      AppendFormatted(text, format, out);
      continue;
    }
    switch (d) {
      case 'n':
        out->append("\r\n");
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->append(width == 0 ? "\t" : "\r\n");
        break;
      case '0':
        return true;
      default:
        out->push_back(d);
        break;
    }
  }
  return true;
}

}  // namespace sentory
