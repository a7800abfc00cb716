#ifndef SENTORY_TOOLS_TAP_TERMINAL_TERMINAL_OPTIONS_H_
#define SENTORY_TOOLS_TAP_TERMINAL_TERMINAL_OPTIONS_H_

#include <string>

#include "tools/tap-terminal/hayes_modem.h"
#include "tools/tap-terminal/paging_terminal.h"

namespace sentory::tapterm {

/// The command line of tap-terminal.
struct TerminalOptions {
  std::string link;  ///< where the pseudo-terminal is linked
  ModemBehaviour modem;
  TerminalBehaviour terminal;
  bool verbose = false;  ///< trace the line on standard error
  bool help = false;
};

/// Reads the arguments after the program name into |out|. Returns false
/// with a one-line reason in |error| for an unknown option, a missing or
/// malformed value, or a missing --link (unless --help is given).
bool ParseTerminalOptions(int argc, const char* const* argv,
                          TerminalOptions* out, std::string* error);

/// The text of --help.
const char* TerminalUsage();

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_TERMINAL_OPTIONS_H_
