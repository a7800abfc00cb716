// Fuzzes the event log file reader: any bytes as a log file, every record
// the reader finds in it read both ways.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/locked_file.h"
#include "winformat/evt_file.h"

namespace {

// Bounds the work per input; a small file holds no more records than this.
constexpr std::uint32_t kMaxRecords = 4096;
constexpr std::uint32_t kBufferSize = 0x10000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  sentory::EvtReader reader(sentory::MakeMemoryFile(
      std::string(reinterpret_cast<const char*>(data), size)));
  if (!reader.Refresh()) return 0;
  std::vector<std::uint8_t> buffer(kBufferSize);
  std::uint32_t first = reader.oldest() - 1;
  std::uint32_t count = reader.count();
  for (std::uint32_t i = 0; i <= count + 1 && i < kMaxRecords; ++i) {
    std::uint32_t read = 0, needed = 0;
    // Backwards from the newest, then forwards: both ways of finding a
    // record by number.
    std::uint32_t number = i % 2 == 0 ? first + count + 1 - i / 2 : first + i;
    if (reader.ReadRecord(number, buffer.data(), kBufferSize, &read, &needed) ==
            sentory::EvtReader::Result::kOk &&
        (read > kBufferSize || read < 60)) {
      __builtin_trap();
    }
    sentory::EvtEvent event;
    reader.ReadEvent(number, &event);
  }
  return 0;
}
