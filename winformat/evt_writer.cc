// Writing a log as the platform's service does: records appended under the
// exclusive lock, the oldest dropped whole when the log is full.

#include <algorithm>
#include <cstring>

#include "winformat/evt_file.h"
#include "winformat/evt_record.h"

namespace sentory {
namespace {

using namespace evt;

}  // namespace

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
