// Finding where the records of a log lie: from its end-of-file record,
// reached from the header, from where it lay before, or by a search of the
// file.

#include <cstring>
#include <vector>

#include "winformat/evt_file.h"
#include "winformat/evt_record.h"

namespace sentory {
namespace {

using namespace evt;

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

}  // namespace sentory
