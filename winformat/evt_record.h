#ifndef SENTORY_WINFORMAT_EVT_RECORD_H_
#define SENTORY_WINFORMAT_EVT_RECORD_H_

// What the search for a log's records, its reader and its writer share: the
// record's layout, the arithmetic of the ring and the texts of a record.
// For winformat/evt_*.cc only.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "winformat/evt_file.h"

namespace sentory::evt {

// The smallest record: the fixed part, two empty names and the length that
// closes it.
constexpr std::uint32_t kMinRecordSize = sizeof(EventLogRecord) + 2 + 2 + 4;
// Where less than a record's fixed part is left before the end of the file,
// a writer may leave padding, and the next record starts at the beginning of
// the data area. A reader takes any DWORD there smaller than the smallest
// record for padding. This writer leaves none: it lengthens the padding
// inside a record that would end there, so that it runs across the end.
constexpr std::uint32_t kRecordHeadSize = sizeof(EventLogRecord);
// How much of the file a reader, or the search for the end-of-file
// record, holds in memory at a time.
constexpr std::uint32_t kWindowSize = 0x10000;
constexpr std::uint32_t kEofMarkers[4] = {0x11111111, 0x22222222, 0x33333333,
                                          0x44444444};

inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) |
         static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void Append32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  std::uint8_t b[4];
  Put32(b, v);
  out->insert(out->end(), b, b + 4);
}

inline void PadTo4(std::vector<std::uint8_t>* out) {
  while (out->size() % 4 != 0) out->push_back(0);
}

// Offsets within the ring of data between the header and the end of a file
// of |size| bytes.
inline std::uint32_t Advance(std::uint32_t offset, std::uint32_t by,
                             std::uint32_t size) {
  std::uint64_t to = static_cast<std::uint64_t>(offset) + by;
  if (to >= size) to -= size - kEvtHeaderSize;
  return static_cast<std::uint32_t>(to);
}

inline std::uint32_t Back(std::uint32_t offset, std::uint32_t by,
                          std::uint32_t size) {
  std::uint64_t at =
      static_cast<std::uint64_t>(offset) + (size - kEvtHeaderSize);
  at -= by;
  if (at >= size) at -= size - kEvtHeaderSize;
  return static_cast<std::uint32_t>(at);
}

// The bytes from |from| to |to| going forwards round the ring.
inline std::uint32_t Distance(std::uint32_t from, std::uint32_t to,
                              std::uint32_t size) {
  return to >= from ? to - from : to + (size - kEvtHeaderSize) - from;
}

inline bool InRing(std::uint32_t offset, std::uint32_t size) {
  return offset >= kEvtHeaderSize && offset < size;
}

// Whether a record may not start at |offset|, so near the end of the file.
inline bool InTail(std::uint32_t offset, std::uint32_t size) {
  return size - offset < kRecordHeadSize;
}

// Reads |count| bytes at |offset| of the ring of a file of |size| bytes.
bool ReadFileRing(LockedFile* file, std::uint32_t size, std::uint32_t offset,
                  std::uint8_t* out, std::uint32_t count);

// A text in a stored record: the bytes of its UTF-16LE code units, without
// the terminator.
struct TextSpan {
  std::uint32_t begin = 0, end = 0;
};

// Finds the text at |p|, which ends at its terminator or at |end|; returns
// the position after the terminator.
std::uint32_t TakeText(const std::vector<std::uint8_t>& raw, std::uint32_t p,
                       std::uint32_t end, TextSpan* span);

// Calls |put| with each code point of |span|.
template <typename Put>
void DecodeText(const std::vector<std::uint8_t>& raw, TextSpan span, Put put) {
  for (std::uint32_t p = span.begin; p < span.end;) {
    std::uint32_t c = Get16(&raw[p]);
    p += 2;
    if (c >= 0xD800 && c <= 0xDBFF && p < span.end) {
      std::uint32_t low = Get16(&raw[p]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        p += 2;
      }
    }
    put(c);
  }
}

// Appends code point |c| to |out| in UTF-8.
void AppendUtf8(std::uint32_t c, std::string* out);

// Appends |text| (UTF-8; a byte that starts no valid sequence stands for
// itself) as UTF-16LE with its terminator.
void AppendUtf16(const std::string& text, std::vector<std::uint8_t>* out);

// Where the parts of a stored record lie. The strings follow one another
// from strings_offset, each found from the end of the one before.
struct ParsedRecord {
  TextSpan source, computer;
  std::uint32_t strings_offset = 0, string_count = 0;
  std::uint32_t sid_offset = 0, sid_length = 0;
  std::uint32_t data_offset = 0, data_length = 0;
  std::uint32_t body = 0;  ///< where the texts must end
};

// Finds the parts of the stored record |raw|; false when they do not lie
// within it.
bool Parse(const std::vector<std::uint8_t>& raw, ParsedRecord* out);

// Calls |put| with the span of each string of |parsed|, in order.
template <typename Put>
void ForEachString(const std::vector<std::uint8_t>& raw,
                   const ParsedRecord& parsed, Put put) {
  std::uint32_t p = parsed.strings_offset;
  for (std::uint32_t i = 0; i < parsed.string_count; ++i) {
    TextSpan span;
    p = TakeText(raw, p, parsed.body, &span);
    put(span);
  }
}

// Rebuilds the stored record |raw| in the single-byte layout (texts in
// Windows-1252, "?" for characters it lacks) into the start of |rebuilt|,
// which it grows as needed; returns the rebuilt record's length.
std::uint32_t RebuildSingleByte(const std::vector<std::uint8_t>& raw,
                                const ParsedRecord& parsed,
                                std::vector<std::uint8_t>* rebuilt);

}  // namespace sentory::evt

#endif  // SENTORY_WINFORMAT_EVT_RECORD_H_
