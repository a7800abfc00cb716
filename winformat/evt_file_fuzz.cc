// Any bytes as an event log; every record read, from both ends.
#include <string>
#include <vector>

#include "winformat/evt_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  sentory::EvtReader reader(sentory::MakeMemoryFile(
      std::string(reinterpret_cast<const char*>(data), size)));
  if (!reader.Refresh()) return 0;
  std::vector<std::uint8_t> buffer(0x10000);
  std::uint32_t first = reader.oldest() - 1, count = reader.count(), read;
  for (std::uint32_t i = 0; i <= count + 1 && i < 4096; ++i) {
    std::uint32_t number = i % 2 == 0 ? first + count + 1 - i / 2 : first + i;
    sentory::EvtEvent event;
    if (reader.ReadRecord(number, buffer.data(), 0x10000, &read, &read) ==
            sentory::EvtReader::Result::kOk &&
        (read > 0x10000 || read < 60 ||
         reader.ReadEvent(number, &event) != sentory::EvtReader::Result::kOk)) {
      __builtin_trap();
    }
  }
  return 0;
}
