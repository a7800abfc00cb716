#ifndef SENTORY_WINFORMAT_WINDOWS_1252_H_
#define SENTORY_WINFORMAT_WINDOWS_1252_H_

#include <string>
#include <string_view>

namespace sentory {

/// The UTF-16 code unit of byte |c| in Windows-1252 (the ANSI code page of
/// Western Windows systems). The five bytes the code page leaves undefined
/// map to the code units of the same value, as Windows maps them.
char16_t FromWindows1252(unsigned char c);

/// The Windows-1252 byte of character |c|; "?" when the code page lacks it.
char ToWindows1252(char32_t c);

/// The Windows-1252 text of UTF-16 |text|: a character the code page lacks
/// becomes "?", a surrogate pair one "?".
std::string ToWindows1252(std::u16string_view text);

/// Decodes UTF-8 |text| into UTF-16. Returns false when it is not valid
/// UTF-8 (|out| is then incomplete).
bool DecodeUtf8(std::string_view text, std::u16string* out);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_WINDOWS_1252_H_
