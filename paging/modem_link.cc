#include "paging/modem_link.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sentory {
namespace {

constexpr int kResetReads = 5;
constexpr std::uint32_t kResetPauseMs = 1000;
constexpr int kConnectReads = 24;
constexpr std::uint32_t kConnectPauseMs = 2500;
constexpr int kHangUpReads = 5;
constexpr std::uint32_t kHangUpPauseMs = 1000;

// A read of up to n bytes returns at the latest 5 * n + 500 ms after it
// starts, with whatever has arrived.
constexpr CommTimeouts kLinkTimeouts = {2000, 5, 500, 5, 500};

void UppercaseAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = *text - 'a' + 'A';
  }
}

// The next comma-separated field of |*cursor|, NUL-terminated in place:
// leading commas are skipped and a run of commas is one separator. nullptr
// when no field is left.
char* NextField(char** cursor) {
  char* start = *cursor + std::strspn(*cursor, ",");
  if (*start == '\0') return nullptr;
  char* end = start + std::strcspn(start, ",");
  *cursor = end;
  if (*end != '\0') {
    *end = '\0';
    *cursor = end + 1;
  }
  return start;
}

// atoi's reading: blanks, a sign, digits; 0 without digits. Out-of-range
// values wrap to 32 bits instead of being undefined.
std::int32_t AtoI(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

ComSettings ParseComSettings(const char* text) {
  ComSettings settings;
  if (text == nullptr) return settings;
  std::string copy = text;
  UppercaseAscii(&copy[0]);
  char* cursor = &copy[0];

  if (char* port = NextField(&cursor)) {
    std::size_t length = std::strlen(port);
    if (length > kPortNameLength) length = kPortNameLength;
    std::memcpy(settings.port_name, port, length);
    settings.port_name[length] = '\0';
  }
  if (char* baud = NextField(&cursor)) settings.baud_rate = AtoI(baud);
  if (char* bits = NextField(&cursor)) {
    settings.data_bits = static_cast<std::uint8_t>(AtoI(bits) & 0xFF);
  }
  if (char* parity = NextField(&cursor)) {
    const char* codes = "NOEMS";
    if (const char* found = std::strchr(codes, parity[0])) {
      settings.parity = static_cast<std::uint8_t>(found - codes);
    }
  }
  if (char* stop = NextField(&cursor)) {
    if (stop[0] == '1') settings.stop_bits = 0;
    if (stop[0] == '2') settings.stop_bits = 2;
  }
  return settings;
}

ModemLink::ModemLink(SerialPorts& ports, Clock& clock, const char* com_settings)
    : ports_(ports), clock_(clock), settings_(ParseComSettings(com_settings)) {}

int ModemLink::Connect(const char* phone) {
  port_ = ports_.CreateFileA(settings_.port_name);
  if (port_ == kInvalidSerialHandle) return 1;

  Dcb dcb;
  CommTimeouts timeouts;
  bool configured = ports_.GetCommState(port_, &dcb) &&
                    ports_.GetCommTimeouts(port_, &timeouts);
  if (configured) {
    dcb.BaudRate = static_cast<std::uint32_t>(settings_.baud_rate);
    dcb.ByteSize = settings_.data_bits;
    dcb.Parity = settings_.parity;
    dcb.StopBits = settings_.stop_bits;
    timeouts = kLinkTimeouts;
    configured = ports_.SetCommState(port_, dcb) &&
                 ports_.SetCommTimeouts(port_, timeouts);
  }
  if (!configured) {
    ports_.CloseHandle(port_);
    port_ = kInvalidSerialHandle;
    return 1;
  }

  ports_.EscapeCommFunction(port_, kSetDtr);
  if (Dial(phone) == 0) return 0;
  HangUp();
  return 1;
}

int ModemLink::Dial(const char* phone) {
  connected_ = 1;

  std::snprintf(buffer_, sizeof(buffer_), "atz\r");
  if (!WriteBuffer(4)) return 1;
  bool reset = false;
  for (int read = 0; read < kResetReads && !reset; ++read) {
    if (!ReadResponse()) return 1;
    reset = std::strstr(buffer_, "OK") != nullptr;
    if (!reset) clock_.Sleep(kResetPauseMs);
  }
  if (!reset) return 1;

  int length = std::snprintf(buffer_, sizeof(buffer_), "atdt%s\r",
                             phone != nullptr ? phone : "");
  if (length < 0) return 1;
  if (static_cast<std::size_t>(length) >= sizeof(buffer_)) {
    length = static_cast<int>(sizeof(buffer_) - 1);
  }
  if (!WriteBuffer(static_cast<std::uint32_t>(length))) return 1;
  for (int read = 0; read < kConnectReads; ++read) {
    if (!ReadResponse()) return 1;
    if (std::strstr(buffer_, "BUSY") != nullptr ||
        std::strstr(buffer_, "NO DIALTONE") != nullptr ||
        std::strstr(buffer_, "NO CARRIER") != nullptr) {
      return 1;
    }
    if (std::strstr(buffer_, "CONNECT") != nullptr) return 0;
    clock_.Sleep(kConnectPauseMs);
  }
  return 1;
}

int ModemLink::HangUp() {
  if (connected_ == 0) return 0;
  std::snprintf(buffer_, sizeof(buffer_), "+++");
  WriteBuffer(3);
  WaitForOk();
  std::snprintf(buffer_, sizeof(buffer_), "ath\r");
  WriteBuffer(4);
  WaitForOk();
  ports_.EscapeCommFunction(port_, kClrDtr);
  ports_.CloseHandle(port_);
  port_ = kInvalidSerialHandle;
  connected_ = 0;
  return 0;
}

bool ModemLink::ReadResponse() {
  std::uint32_t count = 0;
  if (!ports_.ReadFile(port_, buffer_, kModemReadSize, &count)) return false;
  if (count > kModemReadSize) count = kModemReadSize;
  buffer_[count] = '\0';
  UppercaseAscii(buffer_);
  return true;
}

bool ModemLink::WriteBuffer(std::uint32_t size) {
  std::uint32_t written = 0;
  return ports_.WriteFile(port_, buffer_, size, &written);
}

void ModemLink::WaitForOk() {
  for (int read = 0; read < kHangUpReads; ++read) {
    if (ReadResponse() && std::strstr(buffer_, "OK") != nullptr) return;
    clock_.Sleep(kHangUpPauseMs);
  }
}

}  // namespace sentory
