// Reading the records of a log by number, through a bounded index of their
// offsets and a window of the file, each look at the file under its shared
// lock.

#include <algorithm>
#include <cstring>

#include "winformat/evt_file.h"
#include "winformat/evt_record.h"

namespace sentory {
namespace {

using namespace evt;

constexpr std::uint32_t kWindowAlign = 0x1000;
// How many record offsets a reader keeps at most.
constexpr std::uint32_t kIndexSpan = 0x1000;

}  // namespace

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
    looked_stamp_ = *stamp;
    looked_ = StampShowsLaterWrites(stamp->modified_ns);
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

  std::uint32_t length = RebuildSingleByte(raw_, parsed, &rebuilt_);
  const std::uint8_t* out = rebuilt_.data();
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

}  // namespace sentory
