#ifndef SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_
#define SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "winformat/evt_file.h"

namespace sentory {

/// The bytes of shared/testdata/|name| beside the repository (or beside
/// one of the folders that hold it); empty when there is none.
std::string TestData(const std::string& name);

/// The little-endian 32-bit number at |p|.
std::uint32_t Get32(const void* p);

/// An event whose every field follows from |n|: types, texts and data of
/// many lengths as n varies.
EvtEvent Numbered(std::uint32_t n);

/// The fields of an event that the log keeps, to compare events read back.
inline auto Fields(const EvtEvent& e) {
  return std::tie(e.time_generated, e.time_written, e.event_id, e.type,
                  e.category, e.source, e.computer, e.strings, e.data);
}

/// Checks that |buffer| holds, in its first |read| bytes, a whole
/// single-byte record of |number|: every offset and length inside it, every
/// text terminated where it must be.
void ExpectSingleByteRecord(const std::vector<std::uint8_t>& buffer,
                            std::uint32_t read, std::uint32_t number);

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_
