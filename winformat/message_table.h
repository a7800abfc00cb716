#ifndef SENTORY_WINFORMAT_MESSAGE_TABLE_H_
#define SENTORY_WINFORMAT_MESSAGE_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace sentory {

/// Language identifiers of resources.
constexpr std::uint16_t kLangNeutral = 0x0000, kLangEnglish = 0x0009,
                        kLangEnglishUs = 0x0409;

/// Whether |image| is a PE file, 32- or 64-bit, as the loader would map it:
/// the "MZ" header, the "PE" signature, an optional header of either kind
/// and a section table that lies in the file.
bool IsPeImage(std::string_view image);

/// Finds message |id| (the whole 32-bit identifier) in the message table of
/// PE file |image| (resource type 11, name 1). Language 0 chooses as the
/// platform's default search order does: neutral, English (United States),
/// English, then the first language present; another language is looked up
/// as itself, then with a neutral sublanguage, then neutral. ANSI entries
/// come as they stand, Unicode (and UTF-8) entries as Windows-1252 text
/// ("?" for what it lacks); either up to its terminator. Returns false when
/// the file has no table, no such language or no such message, or is
/// malformed; nothing outside |image| is ever read.
bool FindMessage(std::string_view image, std::uint32_t id,
                 std::uint16_t language, std::string* text);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_MESSAGE_TABLE_H_
