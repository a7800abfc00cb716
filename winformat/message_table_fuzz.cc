// Any bytes as a message and a program file; |count| inserts on the heap.
#include <cstdint>
#include <string>
#include <vector>

#include "winformat/message_format.h"
#include "winformat/message_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const char* const kInserts[] = {"one", "", "a\r\nb", "%1", "%%"};
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::uint32_t count = static_cast<std::uint32_t>(size % 6), last = 0;
  std::vector<const char*> inserts(kInserts, kInserts + count);
  std::string text, message;
  for (std::uint32_t width : {0u, sentory::kMaxWidthMask}) {
    sentory::FormatMessageText(bytes, width, inserts.data(), count, &text);
  }
  if (!sentory::IsPeImage(bytes)) return 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i) {
    last = last << 8 | data[size - 1 - i];
  }
  for (std::uint32_t id : {last, 1u, 9u, 0xC0070002u, 0x8FFFFFFFu}) {
    for (std::uint16_t language : {0, 0x0407}) {
      if (sentory::FindMessage(bytes, id, language, &message)) {
        sentory::FormatMessageText(message, sentory::kMaxWidthMask,
                                   inserts.data(), count, &text);
      }
    }
  }
  return 0;
}
