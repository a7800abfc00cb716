#include "eventlog/event_record.h"

#include <cstring>

namespace sentory {

EventLogRecord EventRecord::Header() const {
  EventLogRecord header = {};
  if (data != nullptr && size >= sizeof(header)) {
    std::memcpy(&header, data.get(), sizeof(header));
  }
  return header;
}

std::uint32_t EventRecord::Limit() const {
  if (data == nullptr) return 0;
  std::uint32_t length = Header().Length;
  return length >= sizeof(EventLogRecord) && length <= size ? length : size;
}

std::string EventRecord::TextAt(std::uint32_t offset,
                                std::uint32_t* next) const {
  std::uint32_t limit = Limit();
  if (offset >= limit) {
    *next = limit;
    return std::string();
  }
  const char* start = reinterpret_cast<const char*>(data.get()) + offset;
  const void* end = std::memchr(start, '\0', limit - offset);
  std::uint32_t length =
      end == nullptr
          ? limit - offset
          : static_cast<std::uint32_t>(static_cast<const char*>(end) - start);
  *next = end == nullptr ? limit : offset + length + 1;
  return std::string(start, length);
}

std::string EventRecord::SourceName() const {
  std::uint32_t next = 0;
  return TextAt(sizeof(EventLogRecord), &next);
}

std::string EventRecord::ComputerName() const {
  std::uint32_t next = 0;
  TextAt(sizeof(EventLogRecord), &next);
  return TextAt(next, &next);
}

std::vector<std::string> EventRecord::Strings() const {
  EventLogRecord header = Header();
  std::vector<std::string> strings;
  strings.reserve(header.NumStrings);
  std::uint32_t offset = header.StringOffset;
  for (std::uint16_t i = 0; i < header.NumStrings; ++i) {
    strings.push_back(TextAt(offset, &offset));
  }
  return strings;
}

}  // namespace sentory
