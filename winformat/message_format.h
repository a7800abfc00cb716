#ifndef SENTORY_WINFORMAT_MESSAGE_FORMAT_H_
#define SENTORY_WINFORMAT_MESSAGE_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace sentory {

/// FORMAT_MESSAGE_MAX_WIDTH_MASK: the formatter's line width, of which 0
/// (keep the message's line breaks) and 0xFF (no line breaks but %n) are
/// supported.
constexpr std::uint32_t kMaxWidthMask = 0xFF;

/// Formats message text |message| as FormatMessageA does with
/// FORMAT_MESSAGE_ARGUMENT_ARRAY, the insert texts |arguments| and line
/// width |width| (0 or 0xFF): %1 to %99 (two digits at most) insert their
/// argument, with an optional !printf-format! of flags, width and precision
/// applied to the text; %n gives CR LF, %r CR, %t a tab (CR LF with width
/// 0xFF), %0 ends the message, % followed by any other character gives that
/// character ("%%", "%.", "%!", "% "); a line break in the text (CR LF, CR or
/// LF) gives CR LF, or a blank with width 0xFF. An insert beyond
/// |argument_count| is formatted as the text "%N" itself, so that "%3"
/// stays "%3"; no argument beyond |argument_count| is read. A printf format
/// of another conversion than a string applies its flags, width and
/// precision to the text as a string would; one without a conversion
/// ("%1!!") gives nothing. Returns false, with *out undefined, when a "%"
/// ends the text, a printf format has no closing "!", or |width| is not
/// supported.
bool FormatMessageText(std::string_view message, std::uint32_t width,
                       const char* const* arguments,
                       std::uint32_t argument_count, std::string* out);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_MESSAGE_FORMAT_H_
