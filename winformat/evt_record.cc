#include "winformat/evt_record.h"

#include <algorithm>
#include <cstring>

#include "winformat/windows_1252.h"

namespace sentory::evt {

bool ReadFileRing(LockedFile* file, std::uint32_t size, std::uint32_t offset,
                  std::uint8_t* out, std::uint32_t count) {
  while (count > 0) {
    std::uint32_t piece = std::min(count, size - offset);
    if (!file->ReadAt(offset, out, piece)) return false;
    out += piece;
    count -= piece;
    offset = kEvtHeaderSize;
  }
  return true;
}

// Finds the text at |p|, which ends at its terminator or at |end|; returns
// the position after the terminator.
std::uint32_t TakeText(const std::vector<std::uint8_t>& raw, std::uint32_t p,
                       std::uint32_t end, TextSpan* span) {
  span->begin = p;
  for (; p + 2 <= end; p += 2) {
    if (raw[p] == 0 && raw[p + 1] == 0) {
      span->end = p;
      return p + 2;
    }
  }
  span->end = p;
  return end;
}

void AppendUtf8(std::uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Appends |text| (UTF-8; a byte that starts no valid sequence stands for
// itself) as UTF-16LE with its terminator.
void AppendUtf16(const std::string& text, std::vector<std::uint8_t>* out) {
  auto put = [out](std::uint32_t unit) {
    out->push_back(static_cast<std::uint8_t>(unit));
    out->push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t c = static_cast<std::uint8_t>(text[i]);
    std::size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    bool valid = c >= 0xC0 && c < 0xF8 && i + extra < text.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      valid = (static_cast<std::uint8_t>(text[i + k]) & 0xC0) == 0x80;
    }
    if (valid) {
      c &= 0x3F >> extra;
      for (std::size_t k = 1; k <= extra; ++k) {
        c = c << 6 | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
      }
      i += extra + 1;
    } else {
      ++i;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  put(0);
}

bool Parse(const std::vector<std::uint8_t>& raw, ParsedRecord* out) {
  std::uint32_t body = static_cast<std::uint32_t>(raw.size()) - 4;
  out->body = body;
  std::uint32_t p = TakeText(raw, sizeof(EventLogRecord), body, &out->source);
  TakeText(raw, p, body, &out->computer);
  out->sid_length = Get32(&raw[40]);
  out->sid_offset = Get32(&raw[44]);
  out->data_length = Get32(&raw[48]);
  out->data_offset = Get32(&raw[52]);
  if (out->sid_length > body || out->sid_offset > body - out->sid_length ||
      out->data_length > body || out->data_offset > body - out->data_length) {
    return false;
  }
  out->strings_offset = Get32(&raw[36]);
  out->string_count = Get16(&raw[26]);
  return out->string_count == 0 || out->strings_offset <= body;
}

std::uint32_t RebuildSingleByte(const std::vector<std::uint8_t>& raw,
                                const ParsedRecord& parsed,
                                std::vector<std::uint8_t>* rebuilt) {
  // The rebuilt record is written in place. Each text takes at most a byte
  // for each of its code units and one for its terminator; the names and
  // the strings may overlap in a damaged record, but each lies within it.
  std::size_t bound = sizeof(EventLogRecord) + raw.size() + 2 +
                      parsed.string_count + parsed.sid_length +
                      parsed.data_length + 3 + 3 + 4;
  if (rebuilt->size() < bound) rebuilt->resize(bound);
  std::uint8_t* const out = rebuilt->data();
  std::uint8_t* at = out;
  std::memcpy(at, raw.data(), sizeof(EventLogRecord));
  at += sizeof(EventLogRecord);
  auto text = [&raw, &at](TextSpan span) {
    const std::uint8_t* units = raw.data();
    std::uint32_t p = span.begin;
    // Most texts are ASCII, which stays as it is.
    while (p < span.end && units[p + 1] == 0 && units[p] < 0x80) {
      *at++ = units[p];
      p += 2;
    }
    DecodeText(raw, TextSpan{p, span.end}, [&at](std::uint32_t c) {
      *at++ = static_cast<std::uint8_t>(ToWindows1252(c));
    });
    *at++ = 0;
  };
  auto pad = [out, &at] {
    while ((at - out) % 4 != 0) *at++ = 0;
  };
  auto offset = [out, &at] { return static_cast<std::uint32_t>(at - out); };
  auto copy = [&raw, &at](std::uint32_t from, std::uint32_t length) {
    if (length != 0) std::memcpy(at, raw.data() + from, length);
    at += length;
  };
  text(parsed.source);
  text(parsed.computer);
  pad();
  Put32(out + 44, offset());
  copy(parsed.sid_offset, parsed.sid_length);
  Put32(out + 36, offset());
  ForEachString(raw, parsed, text);
  Put32(out + 52, offset());
  copy(parsed.data_offset, parsed.data_length);
  pad();
  std::uint32_t length = offset() + 4;
  Put32(at, length);
  Put32(out, length);
  return length;
}

}  // namespace sentory::evt
