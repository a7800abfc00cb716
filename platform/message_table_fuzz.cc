// Feeds arbitrary bytes to the message-table reader, as a PE file, and to
// the message formatter, as message text; a message the reader finds is
// formatted too. The first byte chooses the insert count, the next four the
// message identifier.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_format.h"
#include "platform/message_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 5) return 0;
  static const char* const kInserts[] = {"one", "", "a\r\nb", "%1", "%%"};
  std::uint32_t count = data[0] % 6;
  std::uint32_t id = static_cast<std::uint32_t>(data[1]) |
                     static_cast<std::uint32_t>(data[2]) << 8 |
                     static_cast<std::uint32_t>(data[3]) << 16 |
                     static_cast<std::uint32_t>(data[4]) << 24;
  std::string_view rest(reinterpret_cast<const char*>(data) + 5, size - 5);
  // Exactly |count| inserts, on the heap, so a read past them is caught.
  std::vector<const char*> inserts(kInserts, kInserts + count);
  std::string text;
  for (std::uint32_t width : {0u, sentory::kMaxWidthMask}) {
    sentory::FormatMessageText(rest, width, inserts.data(), count, &text);
  }
  std::string message;
  if (sentory::IsPeImage(rest) && sentory::FindMessage(rest, id, 0, &message)) {
    sentory::FormatMessageText(message, sentory::kMaxWidthMask, inserts.data(),
                               count, &text);
  }
  return 0;
}
