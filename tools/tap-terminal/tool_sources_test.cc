// The unit test program takes only the *_test.cc files of this folder, not
// the tool's own sources; this file brings them in, once. The pseudo-terminal
// parts exist on Linux only, like the tool.

#include "tools/tap-terminal/hayes_modem.cc"
#include "tools/tap-terminal/page_line.cc"
#include "tools/tap-terminal/paging_terminal.cc"
#include "tools/tap-terminal/tap_block.cc"
#include "tools/tap-terminal/terminal_options.cc"

#if !defined(_WIN32)
#include "tools/tap-terminal/line_server.cc"
#include "tools/tap-terminal/pty_line.cc"
#endif
