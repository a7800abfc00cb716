// Any bytes as message text for the formatter and as a program file for the
// message-table reader; a message found is formatted too.

#include <cstdint>
#include <string>
#include <vector>

#include "winformat/message_format.h"
#include "winformat/message_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static const char* const kInserts[] = {"one", "", "a\r\nb", "%1", "%%"};
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::uint32_t count = static_cast<std::uint32_t>(size % 6);
  // Exactly |count| inserts, on the heap, so a read past them is caught.
  std::vector<const char*> inserts(kInserts, kInserts + count);
  std::string text;
  for (std::uint32_t width : {0u, sentory::kMaxWidthMask}) {
    sentory::FormatMessageText(bytes, width, inserts.data(), count, &text);
  }
  if (!sentory::IsPeImage(bytes)) return 0;
  std::uint32_t last = 0;
  for (std::size_t i = 0; i < 4 && i < size; ++i) {
    last = last << 8 | data[size - 1 - i];
  }
  for (std::uint32_t id : {last, 1u, 9u, 0xC0070002u, 0x8FFFFFFFu}) {
    for (std::uint16_t language : {0, 0x0407}) {
      std::string message;
      if (sentory::FindMessage(bytes, id, language, &message)) {
        sentory::FormatMessageText(message, sentory::kMaxWidthMask,
                                   inserts.data(), count, &text);
      }
    }
  }
  return 0;
}
