#ifndef SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_
#define SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "winformat/evt_file.h"

namespace sentory {

// shared/testdata/|name| in a folder above this file; empty when none.
std::string TestData(const std::string& name);
std::uint32_t Get32(const void* p);  // little-endian
// An event whose fields all follow from |n|, of many lengths as n varies.
EvtEvent Numbered(std::uint32_t n);
inline auto Fields(const EvtEvent& e) {
  return std::tie(e.time_generated, e.time_written, e.event_id, e.type,
                  e.category, e.source, e.computer, e.strings, e.data);
}
// Appends events |from| to |to| (or |event| as often) and finishes.
bool WriteEvents(LockedFile* file, std::uint32_t max_size, std::uint32_t from,
                 std::uint32_t to, const EvtEvent* event = nullptr);
// |buffer| holds a whole single-byte record |number| of |read| bytes.
void ExpectSingleByteRecord(const std::vector<std::uint8_t>& buffer,
                            std::uint32_t read, std::uint32_t number);

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_EVT_EVENTS_H_
