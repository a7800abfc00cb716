#ifndef SENTORY_TOOLS_TAP_TERMINAL_LINE_SERVER_H_
#define SENTORY_TOOLS_TAP_TERMINAL_LINE_SERVER_H_

// Runs the modem on a pseudo-terminal: what the other side writes goes to
// the modem, the modem's answers go back when they are due. Linux only.

#include <atomic>
#include <cstdio>

#include "tools/tap-terminal/hayes_modem.h"
#include "tools/tap-terminal/outbox.h"
#include "tools/tap-terminal/pty_line.h"

namespace sentory::tapterm {

/// Serves |line| with |modem| (which writes to |outbox|) until |stop| is set.
/// Prints each accepted page on |pages| as one line, flushed at once, and,
/// when |trace| is not null, the bytes of the line on it. Returns 0 when
/// stopped, 1 when the line failed (the reason on |trace| or stderr).
int ServeLine(PtyLine* line, HayesModem* modem, Outbox* outbox,
              const std::atomic<bool>& stop, std::FILE* pages,
              std::FILE* trace);

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_LINE_SERVER_H_
