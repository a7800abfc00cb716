#include "paging/tap_exchange.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace sentory {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kCr = 0x0D;
constexpr char kNak = 0x15;
constexpr char kEsc = 0x1B;
constexpr char kRs = 0x1E;

constexpr int kReadsPerStep = 3;
constexpr int kMaxIdMisses = 4;
// A block the terminal keeps refusing (a checksum it computes otherwise, a
// fault of its own) would otherwise be sent for ever and stop all watching.
// As is usual with TAP, a block is sent again after a NAK three times at
// most; the fourth NAK counts that page as not delivered, and the exchange
// stays logged on for the next.
constexpr int kMaxBlockResends = 3;

bool Printable(char c) {
  unsigned char code = static_cast<unsigned char>(c);
  return code >= 0x20 && code <= 0x7E;
}

}  // namespace

void AppendChecksum(char* block, std::size_t capacity) {
  std::size_t length = std::strlen(block);
  if (capacity < length + 5) return;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    sum = static_cast<std::uint16_t>(sum + static_cast<signed char>(block[i]));
  }
  std::snprintf(block + length, capacity - length, "%c%c%c%c",
                0x30 + ((sum >> 8) & 0x0F), 0x30 + ((sum >> 4) & 0x0F),
                0x30 + (sum & 0x0F), kCr);
}

TapExchange::TapExchange(SerialPorts& ports, SerialHandle port, bool trace,
                         OutputStream& out)
    : ports_(ports), port_(port), trace_(trace), out_(out) {}

int TapExchange::SendPage(const char* pin, char* text) {
  return Run(pin != nullptr ? pin : "", text);
}

int TapExchange::LogOff() {
  state_ = 6;
  return Run("", nullptr);
}

int TapExchange::Run(const char* pin, char* text) {
  int misses = 0;
  int block_naks = 0;
  for (;;) {
    switch (state_) {
      case 0:
        buffer_[0] = kCr;
        buffer_[1] = '\0';
        Send(1, 1);
        if (!ReadStep()) return 1;
        break;
      case 1:
        for (char* c = buffer_; *c != '\0'; ++c) {
          if (*c >= 'a' && *c <= 'z') *c = *c - 'a' + 'A';
        }
        if (std::strstr(buffer_, "ID=") != nullptr) {
          state_ = 2;
          TraceStep(-1);
          break;
        }
        state_ = 0;
        TraceStep(-1);
        if (++misses >= kMaxIdMisses) return 1;
        break;
      case 2:
        std::snprintf(buffer_, sizeof(buffer_), "%cPG1%c", kEsc, kCr);
        Send(5, 3);
        if (!ReadStep()) return 1;
        break;
      case 3: {
        char reply = ReplyByte();
        if (reply == kAck || reply == kNak) {
          state_ = reply == kAck ? 4 : 2;
          TraceStep(-1);
          break;
        }
        state_ = 0;
        return 1;
      }
      case 4:
        Send(BuildBlock(pin, text), 5);
        if (!ReadStep()) return 1;
        break;
      case 5: {
        char reply = ReplyByte();
        if (reply == kNak && ++block_naks <= kMaxBlockResends) {
          state_ = 4;
          TraceStep(-1);
          break;
        }
        if (reply == kAck || reply == kRs || reply == kNak) {
          state_ = 4;
          return reply == kAck ? 0 : 1;
        }
        state_ = 0;
        return 1;
      }
      case 6:
        std::snprintf(buffer_, sizeof(buffer_), "%c%c", kEot, kCr);
        Send(2, 7);
        if (!ReadStep()) return 1;
        break;
      case 7:
      default: {
        bool answered = state_ == 7 && buffer_[0] == kEsc;
        state_ = 0;
        return answered ? 0 : 1;
      }
    }
  }
}

void TapExchange::Send(std::size_t length, std::uint32_t next) {
  std::uint32_t written = 0;
  ports_.WriteFile(port_, buffer_, static_cast<std::uint32_t>(length),
                   &written);
  state_ = next;
  TraceStep(1);
}

bool TapExchange::ReadStep() {
  for (int read = 1;; ++read) {
    std::uint32_t count = 0;
    if (!ports_.ReadFile(port_, buffer_, kTapReadSize, &count)) {
      state_ = 0;
      return false;
    }
    if (count > kTapReadSize) count = kTapReadSize;
    buffer_[count] = '\0';
    if (count > 0) break;
    if (read == kReadsPerStep) {
      // Silence while waiting for "ID=" is a miss, which costs a fresh CR.
      if (state_ == 1) break;
      state_ = 0;
      return false;
    }
  }
  TraceStep(0);
  return true;
}

std::size_t TapExchange::BuildBlock(const char* pin, char* text) {
  std::size_t pin_length = std::strlen(pin);
  if (pin_length > kTapMaxPinLength) pin_length = kTapMaxPinLength;
  std::size_t length = 0;
  buffer_[length++] = kStx;
  std::memcpy(buffer_ + length, pin, pin_length);
  length += pin_length;
  buffer_[length++] = kCr;

  if (text != nullptr) {
    for (char* c = text; *c != '\0'; ++c) {
      if (!Printable(*c)) *c = '.';
    }
    std::size_t text_length = std::strlen(text);
    std::size_t room = kTapBlockTextLimit - length;
    if (text_length > room) text_length = room;
    std::memcpy(buffer_ + length, text, text_length);
    length += text_length;
  }
  buffer_[length++] = kCr;
  buffer_[length++] = kEtx;
  buffer_[length] = '\0';
  AppendChecksum(buffer_, sizeof(buffer_));
  return std::strlen(buffer_);
}

char TapExchange::ReplyByte() const {
  return buffer_[0] == kCr ? buffer_[1] : buffer_[0];
}

void TapExchange::TraceStep(int kind) {
  if (!trace_) return;
  out_.Line({});
  out_.Line({"state: ", std::to_string(state_)});
  if (kind == -1) return;
  std::string shown = kind == 1 ? "out:" : "in:";
  for (const char* c = buffer_; *c != '\0'; ++c) {
    if (Printable(*c)) {
      shown += *c;
    } else {
      shown += "(" + std::to_string(static_cast<signed char>(*c)) + ")";
    }
  }
  out_.Line({shown});
}

}  // namespace sentory
