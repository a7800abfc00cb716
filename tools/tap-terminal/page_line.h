#ifndef SENTORY_TOOLS_TAP_TERMINAL_PAGE_LINE_H_
#define SENTORY_TOOLS_TAP_TERMINAL_PAGE_LINE_H_

#include <string>
#include <string_view>

#include "tools/tap-terminal/outbox.h"

namespace sentory::tapterm {

/// "PAGE <pin> <message>" without a line end; control characters and bytes
/// above 0x7e are written \xHH so that a page is always one line.
std::string PageLine(const Page& page);

/// |bytes| for a trace: printable characters as they are, control
/// characters by name in angle brackets (<CR>, <STX>), others as \xHH.
std::string VisibleBytes(std::string_view bytes);

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_PAGE_LINE_H_
