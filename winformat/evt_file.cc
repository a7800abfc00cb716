#include "platform/evt_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/event_log.h"

namespace sentory {
namespace {

// The smallest record: the fixed part, two empty names and the length that
// closes it.
constexpr std::uint32_t kMinRecordSize = sizeof(EventLogRecord) + 2 + 2 + 4;
// Where less than a record's fixed part is left before the end of the file,
// a writer may leave padding, and the next record starts at the beginning of
// the data area. A reader takes any DWORD there smaller than the smallest
// record for padding. This writer leaves none: it lengthens the padding
// inside a record that would end there, so that it runs across the end.
constexpr std::uint32_t kRecordHeadSize = sizeof(EventLogRecord);
// How much of the file a reader keeps in memory at a time.
constexpr std::uint32_t kWindowSize = 0x10000;
constexpr std::uint32_t kWindowAlign = 0x1000;
// How many record offsets a reader keeps at most.
constexpr std::uint32_t kIndexSpan = 0x1000;
// A file's modification time tells a later write only once it lies this far
// in the past: file systems keep it in steps of up to two seconds.
constexpr std::int64_t kStampStepNs = 2'000'000'000;
constexpr std::uint32_t kEofMarkers[4] = {0x11111111, 0x22222222, 0x33333333,
                                          0x44444444};

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) |
         static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Append32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  std::uint8_t b[4];
  Put32(b, v);
  out->insert(out->end(), b, b + 4);
}

void PadTo4(std::vector<std::uint8_t>* out) {
  while (out->size() % 4 != 0) out->push_back(0);
}

// Offsets within the ring of data between the header and the end of a file
// of |size| bytes.
std::uint32_t Advance(std::uint32_t offset, std::uint32_t by,
                      std::uint32_t size) {
  std::uint64_t to = static_cast<std::uint64_t>(offset) + by;
  if (to >= size) to -= size - kEvtHeaderSize;
  return static_cast<std::uint32_t>(to);
}

std::uint32_t Back(std::uint32_t offset, std::uint32_t by, std::uint32_t size) {
  std::uint64_t at =
      static_cast<std::uint64_t>(offset) + (size - kEvtHeaderSize);
  at -= by;
  if (at >= size) at -= size - kEvtHeaderSize;
  return static_cast<std::uint32_t>(at);
}

// The bytes from |from| to |to| going forwards round the ring.
std::uint32_t Distance(std::uint32_t from, std::uint32_t to,
                       std::uint32_t size) {
  return to >= from ? to - from : to + (size - kEvtHeaderSize) - from;
}

bool InRing(std::uint32_t offset, std::uint32_t size) {
  return offset >= kEvtHeaderSize && offset < size;
}

// Whether a record may not start at |offset|, so near the end of the file.
bool InTail(std::uint32_t offset, std::uint32_t size) {
  return size - offset < kRecordHeadSize;
}

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

// Fills |state| from |eof| when it is an end-of-file record lying at |at|.
bool TakeEof(const std::uint8_t* eof, std::uint32_t at, EvtState* state) {
  if (Get32(eof) != kEvtEofSize || Get32(eof + 36) != kEvtEofSize) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (Get32(eof + 4 + 4 * i) != kEofMarkers[i]) return false;
  }
  std::uint32_t begin = Get32(eof + 20);
  if (Get32(eof + 24) != at || !InRing(begin, state->file_size)) return false;
  std::uint32_t next = Get32(eof + 28);
  std::uint32_t oldest = Get32(eof + 32);
  state->begin = begin;
  state->end = at;
  state->next = next;
  state->oldest = oldest;
  // A log without records, however its numbers read.
  if (begin == at || oldest == 0 || next <= oldest) {
    state->begin = at;
    state->oldest = 0;
    return true;
  }
  // No more records than the bytes between begin and end can hold.
  return next - oldest <=
         Distance(begin, at, state->file_size) / kMinRecordSize;
}

// The last resort for a header that points nowhere useful: every place in
// the data area where an end-of-file record could lie. Of several, the one
// with the highest next number is the latest. The file is read in pieces of
// kWindowSize, each with the bytes of an end-of-file record beyond it, so
// the search holds the same memory for a log of any size.
bool ScanForEof(LockedFile* file, EvtState* state) {
  std::uint32_t size = state->file_size;
  std::vector<std::uint8_t> piece(kWindowSize + kEvtEofSize);
  bool found = false;
  EvtState best = *state;
  for (std::uint32_t from = kEvtHeaderSize; from + 4 <= size;) {
    std::uint32_t length =
        std::min<std::uint32_t>(size - from, kWindowSize + kEvtEofSize);
    if (!file->ReadAt(from, piece.data(), length)) return false;
    std::uint32_t scanned = std::min(kWindowSize, length);
    for (std::uint32_t i = 0; i < scanned && i + 4 <= length; i += 4) {
      if (Get32(&piece[i]) != kEvtEofSize) continue;
      std::uint32_t at = from + i;
      std::uint8_t eof[kEvtEofSize];
      if (i + kEvtEofSize <= length) {
        std::memcpy(eof, &piece[i], kEvtEofSize);
      } else if (!ReadFileRing(file, size, at, eof, kEvtEofSize)) {
        return false;
      }
      EvtState candidate = *state;
      if (TakeEof(eof, at, &candidate) &&
          (!found || candidate.next > best.next)) {
        best = candidate;
        found = true;
      }
    }
    from += scanned;
  }
  if (found) *state = best;
  return found;
}

// Walks the records from |at| to the end-of-file record that follows them
// and fills |state| from it; false when there is none to be found so.
bool WalkToEof(LockedFile* file, std::uint32_t at, EvtState* state) {
  std::uint64_t walked = 0;
  std::uint32_t ring = state->file_size - kEvtHeaderSize;
  while (InRing(at, state->file_size) && walked <= ring) {
    std::uint8_t eof[kEvtEofSize];
    if (!ReadFileRing(file, state->file_size, at, eof, kEvtEofSize)) break;
    if (TakeEof(eof, at, state)) return true;
    std::uint32_t length = Get32(eof);
    if (InTail(at, state->file_size) && length < kMinRecordSize) {
      walked += state->file_size - at;
      at = kEvtHeaderSize;
      continue;
    }
    if (Get32(eof + 4) != kEvtSignature || length < kMinRecordSize ||
        length > ring) {
      break;
    }
    at = Advance(at, length, state->file_size);
    walked += length;
  }
  return false;
}

// Windows-1252 for the code points U+0080 to U+009F are taken by these
// characters; the rest of 0x80 to 0xFF is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToCp1252(std::uint32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// A text in a stored record: the bytes of its UTF-16LE code units, without
// the terminator.
struct TextSpan {
  std::uint32_t begin = 0, end = 0;
};

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

// Where the parts of a stored record lie. The strings follow one another
// from strings_offset, each found from the end of the one before.
struct ParsedRecord {
  TextSpan source, computer;
  std::uint32_t strings_offset = 0, string_count = 0;
  std::uint32_t sid_offset = 0, sid_length = 0;
  std::uint32_t data_offset = 0, data_length = 0;
  std::uint32_t body = 0;  ///< where the texts must end
};

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

}  // namespace

bool ReadEvtState(LockedFile* file, EvtState* state, std::uint32_t start) {
  std::uint64_t size = 0;
  if (!file->Size(&size) || size < kEvtHeaderSize + kEvtEofSize ||
      size > 0xFFFFFFFFu) {
    return false;
  }
  state->file_size = static_cast<std::uint32_t>(size);
  std::uint8_t header[kEvtHeaderSize];
  if (!file->ReadAt(0, header, kEvtHeaderSize)) return false;
  for (std::uint32_t i = 0; i < kEvtHeaderSize / 4; ++i) {
    state->header[i] = Get32(header + 4 * i);
  }
  if (state->header[0] != kEvtHeaderSize || state->header[1] != kEvtSignature ||
      state->header[11] != kEvtHeaderSize) {
    return false;
  }
  // The header's end offset is right when it is clean; when it is stale it
  // still names a record the writer wrote since, so walking on from there
  // reaches the end-of-file record. So does walking on from where an
  // end-of-file record lay before, while the log only grew since.
  if (InRing(start, state->file_size) && start != state->header[5] &&
      WalkToEof(file, start, state)) {
    return true;
  }
  return WalkToEof(file, state->header[5], state) || ScanForEof(file, state);
}

EvtReader::EvtReader(std::unique_ptr<LockedFile> file)
    : file_(std::move(file)) {}

void EvtReader::Reopen(std::unique_ptr<LockedFile> file) {
  file_ = std::move(file);
  window_.clear();
}

void EvtReader::Release() {
  file_.reset();
  std::vector<std::uint8_t>().swap(window_);
  std::vector<std::uint8_t>().swap(raw_);
  std::vector<std::uint8_t>().swap(rebuilt_);
}

bool EvtReader::Refresh(const FileStamp* stamp) { return Look(stamp, false); }

bool EvtReader::RefreshIfChanged() { return Look(nullptr, true); }

bool EvtReader::Look(const FileStamp* stamp, bool trust_stamp) {
  if (!file_) return true;
  FileStamp taken;
  if (stamp == nullptr && file_->Stamp(&taken)) stamp = &taken;
  if (stamp != nullptr && looked_ && *stamp == looked_stamp_ &&
      (bad_ || trust_stamp)) {
    return !bad_;
  }
  if (!file_->Lock(false)) return false;
  locked_ = true;
  bool ok = RefreshLocked(stamp);
  file_->Unlock();
  locked_ = false;
  return ok;
}

void EvtReader::Forget() {
  index_.clear();
  index_base_ = 0;
}

// |stamp|, when given, was taken before the lock: a write between the two
// shows in the file, and the next stamp then differs.
bool EvtReader::RefreshLocked(const FileStamp* stamp) {
  window_.clear();
  FileStamp taken;
  if (stamp == nullptr && file_->Stamp(&taken)) stamp = &taken;
  looked_ = false;
  if (stamp != nullptr) {
    std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    looked_stamp_ = *stamp;
    looked_ = now - stamp->modified_ns > kStampStepNs;
  }
  std::uint8_t eof[kEvtEofSize];
  std::uint64_t size = 0;
  bool sized =
      stamp != nullptr ? (size = stamp->size, true) : file_->Size(&size);
  if (have_state_ && sized && size == state_.file_size &&
      ReadFileRing(file_.get(), state_.file_size, state_.end, eof,
                   kEvtEofSize) &&
      std::memcmp(eof, eof_, kEvtEofSize) == 0) {
    return true;
  }
  // Where the end-of-file record was is where the first record written
  // since went, so the search starts there; a log that went back (cleared,
  // replaced) is searched from its header.
  std::uint32_t hint = have_state_ && size == state_.file_size ? state_.end : 0;
  EvtState fresh;
  bool found = ReadEvtState(file_.get(), &fresh, hint);
  if (found && hint != 0 && fresh.next < state_.next) {
    found = ReadEvtState(file_.get(), &fresh);
  }
  if (!found) {
    have_state_ = false;
    state_ = EvtState();
    Forget();
    bad_ = true;
    return false;
  }
  bad_ = false;
  // Records keep their offsets while they stay in the log: when the log
  // only lost old records and gained new ones, keep what is known of the
  // ones that stayed.
  bool kept = have_state_ && fresh.file_size == state_.file_size &&
              state_.Count() > 0 && fresh.Count() > 0 &&
              fresh.oldest >= state_.oldest && fresh.oldest < state_.next &&
              fresh.next >= state_.next;
  std::uint32_t old_end = state_.end;
  std::uint32_t old_next = state_.next;
  if (kept) {
    std::uint32_t dropped = fresh.oldest - state_.oldest;
    if (index_base_ >= dropped) {
      index_base_ -= dropped;
    } else {
      std::uint32_t cut = std::min<std::uint32_t>(
          dropped - index_base_, static_cast<std::uint32_t>(index_.size()));
      index_.erase(index_.begin(), index_.begin() + cut);
      index_base_ = 0;
    }
    if (index_base_ >= fresh.Count()) {
      Forget();
    } else if (index_.size() > fresh.Count() - index_base_) {
      index_.resize(fresh.Count() - index_base_);
    }
    kept = index_base_ != 0 || index_.empty() || index_[0] == 0 ||
           index_[0] == fresh.begin;
  }
  if (!kept) Forget();
  state_ = fresh;
  have_state_ = true;
  // The first new record went where the end-of-file record was.
  if (kept && fresh.next > old_next) {
    Cover(old_next - fresh.oldest);
    Learn(old_next - fresh.oldest, old_end);
  }
  ReadFileRing(file_.get(), state_.file_size, state_.end, eof_, kEvtEofSize);
  return true;
}

std::uint32_t EvtReader::Known(std::uint32_t index) const {
  if (index == 0 && state_.Count() > 0) return state_.begin;
  if (index == state_.Count()) return state_.end;
  if (index >= index_base_ && index - index_base_ < index_.size()) {
    return index_[index - index_base_];
  }
  return 0;
}

void EvtReader::Learn(std::uint32_t index, std::uint32_t offset) {
  if (index >= index_base_ && index - index_base_ < index_.size()) {
    index_[index - index_base_] = offset;
  }
}

// Moves the span of the index so that it holds |index|, a record of the
// log, keeping what it knew of the records still in it.
void EvtReader::Cover(std::uint32_t index) {
  if (index >= index_base_ && index - index_base_ < index_.size()) return;
  std::uint32_t count = state_.Count();
  std::uint32_t base = index >= kIndexSpan / 2 ? index - kIndexSpan / 2 : 0;
  if (count > kIndexSpan && base > count - kIndexSpan) {
    base = count - kIndexSpan;
  }
  if (count <= kIndexSpan) base = 0;
  std::vector<std::uint32_t> moved(std::min(kIndexSpan, count - base), 0);
  for (std::uint32_t i = 0; i < index_.size(); ++i) {
    std::uint32_t at = index_base_ + i;
    if (at >= base && at - base < moved.size()) moved[at - base] = index_[i];
  }
  index_.swap(moved);
  index_base_ = base;
}

EvtReader::Step EvtReader::FromFile(std::uint32_t offset, void* out,
                                    std::uint32_t size) {
  if (!window_.empty() && offset >= window_offset_ &&
      offset - window_offset_ + size <= window_.size()) {
    std::memcpy(out, &window_[offset - window_offset_], size);
    return Step::kDone;
  }
  if (!locked_) return Step::kNeedLock;
  if (size > kWindowSize) {
    return file_->ReadAt(offset, out, size) ? Step::kDone : Step::kBad;
  }
  std::uint32_t start = offset - offset % kWindowAlign;
  if (offset + size - start > kWindowSize) start = offset;
  std::uint32_t length = std::min(kWindowSize, state_.file_size - start);
  window_.resize(length);
  if (!file_->ReadAt(start, window_.data(), length)) {
    window_.clear();
    return Step::kBad;
  }
  window_offset_ = start;
  std::memcpy(out, &window_[offset - start], size);
  return Step::kDone;
}

EvtReader::Step EvtReader::ReadRing(std::uint32_t offset, void* out,
                                    std::uint32_t size) {
  std::uint8_t* to = static_cast<std::uint8_t*>(out);
  if (!InRing(offset, state_.file_size)) return Step::kBad;
  while (size > 0) {
    std::uint32_t piece = std::min(size, state_.file_size - offset);
    Step step = FromFile(offset, to, piece);
    if (step != Step::kDone) return step;
    to += piece;
    size -= piece;
    offset = kEvtHeaderSize;
  }
  return Step::kDone;
}

// Finds the offset of record oldest + |index| by walking from the nearest
// record whose offset is known, forwards by the length at the start of each
// record or backwards by the length at the end of the one before. Every
// offset passed lies between the oldest record and the end-of-file record.
EvtReader::Step EvtReader::Resolve(std::uint32_t index, std::uint32_t* offset) {
  Cover(index);
  std::uint32_t count = state_.Count();
  std::uint32_t size = state_.file_size;
  std::uint32_t used = Distance(state_.begin, state_.end, size);
  std::uint32_t ring = size - kEvtHeaderSize;
  std::uint32_t d = 0;
  for (;; ++d) {
    if (d <= index && Known(index - d) != 0) break;
    if (index + d <= count && Known(index + d) != 0) break;
  }
  std::uint8_t word[4];
  std::uint32_t at = 0;
  if (d <= index && Known(index - d) != 0) {
    at = Known(index - d);
    for (std::uint32_t k = index - d; k < index; ++k) {
      Step step = ReadRing(at, word, 4);
      if (step != Step::kDone) return step;
      std::uint32_t length = Get32(word);
      std::uint32_t next = Advance(at, length, size);
      if (length < kMinRecordSize || length > ring ||
          std::uint64_t{Distance(state_.begin, at, size)} + length >= used) {
        return Step::kBad;
      }
      if (InTail(next, size) && next != state_.end) {
        if (size - next >= 4) {
          step = ReadRing(next, word, 4);
          if (step != Step::kDone) return step;
        }
        if (size - next < 4 || Get32(word) < kMinRecordSize) {
          next = kEvtHeaderSize;
        }
      }
      Learn(k + 1, next);
      at = next;
    }
  } else {
    at = Known(index + d);
    for (std::uint32_t k = index + d; k > index; --k) {
      Step step = ReadRing(Back(at, 4, size), word, 4);
      if (step != Step::kDone) return step;
      std::uint32_t length = Get32(word);
      // Before the first record of the data area may lie padding, after the
      // last record in the file.
      std::uint32_t ends = at;
      for (std::uint32_t p = size; at == kEvtHeaderSize &&
                                   length < kMinRecordSize &&
                                   InTail(p - 4, size);) {
        p -= 4;
        step = ReadRing(p - 4, word, 4);
        if (step != Step::kDone) return step;
        length = Get32(word);
        ends = p;
      }
      if (length < kMinRecordSize || length > ring ||
          length > Distance(state_.begin, ends, size)) {
        return Step::kBad;
      }
      at = Back(ends, length, size);
      Learn(k - 1, at);
    }
  }
  *offset = at;
  return Step::kDone;
}

EvtReader::Step EvtReader::Locate(std::uint32_t number) {
  std::uint32_t offset = 0;
  Step step = Resolve(number - state_.oldest, &offset);
  if (step != Step::kDone) return step;
  std::uint8_t head[12];
  step = ReadRing(offset, head, sizeof(head));
  if (step != Step::kDone) return step;
  std::uint32_t length = Get32(head);
  std::uint32_t size = state_.file_size;
  if (Get32(head + 4) != kEvtSignature || Get32(head + 8) != number ||
      length < kMinRecordSize ||
      std::uint64_t{Distance(state_.begin, offset, size)} + length >
          Distance(state_.begin, state_.end, size)) {
    return Step::kBad;
  }
  raw_.resize(length);
  step = ReadRing(offset, raw_.data(), length);
  if (step != Step::kDone) return step;
  if (Get32(&raw_[length - 4]) != length) return Step::kBad;
  // The next record follows, which a reader going forwards asks for next.
  std::uint32_t index = number - state_.oldest;
  std::uint32_t next = Advance(offset, length, size);
  if (index + 1 < state_.Count() && !InTail(next, size)) {
    Learn(index + 1, next);
  }
  return Step::kDone;
}

EvtReader::Result EvtReader::Fetch(std::uint32_t number) {
  auto in_range = [this, number] {
    return state_.Count() > 0 && number >= state_.oldest &&
           number < state_.next;
  };
  // What this handle read under its last lock serves without the file.
  if (have_state_ && !window_.empty() && in_range() &&
      Locate(number) == Step::kDone) {
    return Result::kOk;
  }
  if (!file_) return Result::kMissing;
  if (!file_->Lock(false)) return Result::kCorrupt;
  locked_ = true;
  Result result = Result::kCorrupt;
  if (RefreshLocked(nullptr)) {
    if (!in_range()) {
      result = Result::kMissing;
    } else if (Locate(number) == Step::kDone) {
      result = Result::kOk;
    } else {
      // An offset learnt before the file changed unnoticed: learn again.
      Forget();
      if (Locate(number) == Step::kDone) result = Result::kOk;
    }
  }
  file_->Unlock();
  locked_ = false;
  return result;
}

EvtReader::Result EvtReader::ReadRecord(std::uint32_t number, void* buffer,
                                        std::uint32_t size,
                                        std::uint32_t* bytes_read,
                                        std::uint32_t* bytes_needed) {
  Result result = Fetch(number);
  if (result != Result::kOk) return result;
  ParsedRecord parsed;
  if (!Parse(raw_, &parsed)) return Result::kCorrupt;

  // The rebuilt record is written in place. Each text takes at most a byte
  // for each of its code units and one for its terminator; the names and
  // the strings may overlap in a damaged record, but each lies within it.
  std::size_t bound = sizeof(EventLogRecord) + raw_.size() + 2 +
                      parsed.string_count + parsed.sid_length +
                      parsed.data_length + 3 + 3 + 4;
  if (rebuilt_.size() < bound) rebuilt_.resize(bound);
  std::uint8_t* const out = rebuilt_.data();
  std::uint8_t* at = out;
  std::memcpy(at, raw_.data(), sizeof(EventLogRecord));
  at += sizeof(EventLogRecord);
  auto text = [this, &at](TextSpan span) {
    const std::uint8_t* units = raw_.data();
    std::uint32_t p = span.begin;
    // Most texts are ASCII, which stays as it is.
    while (p < span.end && units[p + 1] == 0 && units[p] < 0x80) {
      *at++ = units[p];
      p += 2;
    }
    DecodeText(raw_, TextSpan{p, span.end}, [&at](std::uint32_t c) {
      *at++ = static_cast<std::uint8_t>(ToCp1252(c));
    });
    *at++ = 0;
  };
  auto pad = [out, &at] {
    while ((at - out) % 4 != 0) *at++ = 0;
  };
  auto offset = [out, &at] { return static_cast<std::uint32_t>(at - out); };
  auto copy = [this, &at](std::uint32_t from, std::uint32_t length) {
    if (length != 0) std::memcpy(at, raw_.data() + from, length);
    at += length;
  };
  text(parsed.source);
  text(parsed.computer);
  pad();
  Put32(out + 44, offset());
  copy(parsed.sid_offset, parsed.sid_length);
  Put32(out + 36, offset());
  ForEachString(raw_, parsed, text);
  Put32(out + 52, offset());
  copy(parsed.data_offset, parsed.data_length);
  pad();
  std::uint32_t length = offset() + 4;
  Put32(at, length);
  Put32(out, length);
  if (length > size) {
    *bytes_needed = length;
    return Result::kTooSmall;
  }
  std::memcpy(buffer, out, length);
  *bytes_read = length;
  return Result::kOk;
}

EvtReader::Result EvtReader::ReadEvent(std::uint32_t number, EvtEvent* event) {
  Result result = Fetch(number);
  if (result != Result::kOk) return result;
  ParsedRecord parsed;
  if (!Parse(raw_, &parsed)) return Result::kCorrupt;
  const std::uint8_t* r = raw_.data();
  *event = EvtEvent();
  event->number = Get32(r + 8);
  event->time_generated = Get32(r + 12);
  event->time_written = Get32(r + 16);
  event->event_id = Get32(r + 20);
  event->type = Get16(r + 24);
  event->category = Get16(r + 28);
  auto utf8 = [this](TextSpan span) {
    std::string s;
    DecodeText(raw_, span, [&s](std::uint32_t c) { AppendUtf8(c, &s); });
    return s;
  };
  event->source = utf8(parsed.source);
  event->computer = utf8(parsed.computer);
  ForEachString(raw_, parsed,
                [&](TextSpan span) { event->strings.push_back(utf8(span)); });
  event->data.assign(raw_.begin() + parsed.data_offset,
                     raw_.begin() + parsed.data_offset + parsed.data_length);
  return Result::kOk;
}

EvtWriter::~EvtWriter() {
  if (locked_) file_->Unlock();
}

bool EvtWriter::Begin(std::uint32_t max_size) {
  if (!file_->Lock(true)) return false;
  locked_ = true;
  std::uint64_t size = 0;
  if (file_->Size(&size) && size == 0) {
    std::uint64_t rounded = (std::max(max_size, kEvtMinMaxSize) +
                             std::uint64_t{kEvtMinMaxSize} - 1) /
                            kEvtMinMaxSize * kEvtMinMaxSize;
    if (rounded > 0xFFFF0000u) rounded = 0xFFFF0000u;
    state_ = EvtState();
    state_.file_size = static_cast<std::uint32_t>(rounded);
    state_.header[8] = state_.file_size;
    flags_ = 0;
    if (file_->Resize(rounded) && Clear() && WriteHeader(false)) {
      dirty_ = false;
      return true;
    }
    file_->Resize(0);
  } else if (ReadEvtState(file_, &state_)) {
    flags_ = state_.header[9] & ~kEvtFlagDirty;
    return true;
  }
  file_->Unlock();
  locked_ = false;
  return false;
}

bool EvtWriter::WriteRing(std::uint32_t offset, const void* data,
                          std::uint32_t size) {
  const std::uint8_t* from = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    std::uint32_t piece = std::min(size, state_.file_size - offset);
    if (!file_->WriteAt(offset, from, piece)) return false;
    from += piece;
    size -= piece;
    offset = kEvtHeaderSize;
  }
  return true;
}

bool EvtWriter::WriteHeader(bool dirty) {
  std::uint32_t* h = state_.header;
  h[4] = state_.begin;
  h[5] = state_.end;
  h[6] = state_.next;
  h[7] = state_.oldest;
  h[9] = dirty ? flags_ | kEvtFlagDirty : flags_;
  h[0] = kEvtHeaderSize;
  h[1] = kEvtSignature;
  h[2] = 1;
  h[3] = 1;
  h[11] = kEvtHeaderSize;
  std::uint8_t bytes[kEvtHeaderSize];
  for (std::uint32_t i = 0; i < kEvtHeaderSize / 4; ++i)
    Put32(bytes + 4 * i, h[i]);
  return file_->WriteAt(0, bytes, kEvtHeaderSize);
}

bool EvtWriter::MarkDirty() {
  if (dirty_) return true;
  dirty_ = true;
  return WriteHeader(true);
}

bool EvtWriter::Append(const EvtEvent& event) {
  std::vector<std::uint8_t> record(sizeof(EventLogRecord), 0);
  std::uint8_t* f = record.data();
  Put32(f + 4, kEvtSignature);
  Put32(f + 8, state_.next);
  Put32(f + 12, event.time_generated);
  Put32(f + 16, event.time_written);
  Put32(f + 20, event.event_id);
  Put16(f + 24, event.type);
  Put16(f + 26, static_cast<std::uint16_t>(event.strings.size()));
  Put16(f + 28, event.category);
  AppendUtf16(event.source, &record);
  AppendUtf16(event.computer, &record);
  PadTo4(&record);
  Put32(&record[44], static_cast<std::uint32_t>(record.size()));
  Put32(&record[36], static_cast<std::uint32_t>(record.size()));
  for (const std::string& s : event.strings) AppendUtf16(s, &record);
  Put32(&record[52], static_cast<std::uint32_t>(record.size()));
  Put32(&record[48], static_cast<std::uint32_t>(event.data.size()));
  record.insert(record.end(), event.data.begin(), event.data.end());
  // One to four bytes of padding, as the platform's service writes them.
  do {
    record.push_back(0);
  } while (record.size() % 4 != 0);
  std::uint64_t length64 = record.size() + 4;
  std::uint32_t size = state_.file_size;
  std::uint32_t ring = size - kEvtHeaderSize;
  if (event.strings.size() > 0xFFFF || length64 + kEvtEofSize > ring) {
    return false;
  }
  std::uint32_t length = static_cast<std::uint32_t>(length64);
  Append32(&record, length);
  Put32(record.data(), length);

  std::uint32_t at = state_.end;
  std::uint32_t left = size - at;
  if (left >= length && left - length < kRecordHeadSize) {
    // Ending here would leave the next record too little room, or none, at
    // the end of the file: run across the end instead.
    std::uint32_t more = left - length + 4;
    record.insert(record.end() - 4, more, 0);
    length += more;
    if (std::uint64_t{length} + kEvtEofSize > ring) return false;
    Put32(record.data(), length);
    Put32(&record[length - 4], length);
  }
  if (!MarkDirty()) return false;
  // Make room by dropping the oldest records, whole.
  std::uint64_t needed = std::uint64_t{length} + kEvtEofSize;
  bool dropped_any = false;
  while (state_.Count() > 0 &&
         Distance(state_.begin, state_.end, size) + needed > ring) {
    std::uint8_t word[4];
    if (!ReadFileRing(file_, size, state_.begin, word, 4)) return false;
    std::uint32_t dropped = Get32(word);
    if (dropped < kMinRecordSize ||
        dropped > Distance(state_.begin, state_.end, size)) {
      return false;
    }
    state_.begin = Advance(state_.begin, dropped, size);
    ++state_.oldest;
    flags_ |= kEvtFlagWrapped;
    dropped_any = true;
    if (state_.Count() > 0 && InTail(state_.begin, size) &&
        (size - state_.begin < 4 ||
         (ReadFileRing(file_, size, state_.begin, word, 4) &&
          Get32(word) < kMinRecordSize))) {
      state_.begin = kEvtHeaderSize;
    }
  }
  if (needed > ring) return false;
  if (state_.Count() == 0) {
    state_.begin = at;
    state_.oldest = state_.next;
  }
  // The new end-of-file record goes in first: until the record overwrites
  // the old one, a reader that takes no lock still finds a whole log.
  std::uint32_t end = Advance(at, length, size);
  std::uint8_t eof[kEvtEofSize];
  Put32(eof, kEvtEofSize);
  for (int i = 0; i < 4; ++i) Put32(eof + 4 + 4 * i, kEofMarkers[i]);
  Put32(eof + 20, state_.begin);
  Put32(eof + 24, end);
  Put32(eof + 28, state_.next + 1);
  Put32(eof + 32, state_.oldest);
  Put32(eof + 36, kEvtEofSize);
  if (!WriteRing(end, eof, kEvtEofSize) ||
      !WriteRing(at, record.data(), length)) {
    return false;
  }
  // Zeros over what is left of the dropped records, so that a reader that
  // looks for the oldest record after the end-of-file record finds it.
  std::uint32_t gap_start = Advance(end, kEvtEofSize, size);
  if (dropped_any && state_.Count() > 0 && gap_start != state_.begin) {
    std::vector<std::uint8_t> zeros(Distance(gap_start, state_.begin, size));
    if (!WriteRing(gap_start, zeros.data(),
                   static_cast<std::uint32_t>(zeros.size()))) {
      return false;
    }
  }
  state_.end = end;
  ++state_.next;
  // Readers that take no lock trust the header's offsets, dirty or not:
  // keep them right.
  return WriteHeader(true);
}

bool EvtWriter::Clear() {
  if (!MarkDirty()) return false;
  // Zeros over the old records, so nothing of them can be found again.
  std::vector<std::uint8_t> zeros(kWindowSize, 0);
  for (std::uint32_t at = kEvtHeaderSize; at < state_.file_size;) {
    std::uint32_t piece = std::min(kWindowSize, state_.file_size - at);
    if (!file_->WriteAt(at, zeros.data(), piece)) return false;
    at += piece;
  }
  state_.begin = state_.end = kEvtHeaderSize;
  state_.next = 1;
  state_.oldest = 0;
  flags_ &= ~kEvtFlagWrapped;
  std::uint8_t eof[kEvtEofSize];
  Put32(eof, kEvtEofSize);
  for (int i = 0; i < 4; ++i) Put32(eof + 4 + 4 * i, kEofMarkers[i]);
  Put32(eof + 20, kEvtHeaderSize);
  Put32(eof + 24, kEvtHeaderSize);
  Put32(eof + 28, 1);
  Put32(eof + 32, 0);
  Put32(eof + 36, kEvtEofSize);
  return file_->WriteAt(kEvtHeaderSize, eof, kEvtEofSize);
}

bool EvtWriter::Finish() {
  if (!locked_) return false;
  bool ok = WriteHeader(false);
  dirty_ = false;
  file_->Unlock();
  locked_ = false;
  return ok;
}

}  // namespace sentory
