#include "tools/tap-terminal/page_line.h"

namespace sentory::tapterm {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7e;
constexpr unsigned char kControlNames = 0x20;

const char* const kNames[kControlNames] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void AppendHex(unsigned char c, std::string* out) {
  *out += "\\x";
  *out += kHexDigits[c >> 4];
  *out += kHexDigits[c & 0xf];
}

void AppendEscaped(std::string_view text, std::string* out) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= kFirstPrintable && u <= kLastPrintable) {
      *out += c;
    } else {
      AppendHex(u, out);
    }
  }
}

}  // namespace

std::string PageLine(const Page& page) {
  std::string line = "PAGE ";
  AppendEscaped(page.pin, &line);
  line += ' ';
  AppendEscaped(page.message, &line);
  return line;
}

std::string VisibleBytes(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < kControlNames) {
      out += '<';
      out += kNames[u];
      out += '>';
    } else if (u <= kLastPrintable) {
      out += c;
    } else {
      AppendHex(u, &out);
    }
  }
  return out;
}

}  // namespace sentory::tapterm
