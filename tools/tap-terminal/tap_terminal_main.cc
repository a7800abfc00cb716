// tap-terminal: a Hayes modem with a paging terminal behind it, on a
// pseudo-terminal, for tests and demonstrations of paging on Linux.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "tools/tap-terminal/hayes_modem.h"
#include "tools/tap-terminal/line_server.h"
#include "tools/tap-terminal/pty_line.h"
#include "tools/tap-terminal/terminal_options.h"

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "the stop flag is set from a signal handler");

void OnSignal(int) { g_stop.store(true); }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a signal wakes the poll at once.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sentory::tapterm;
  TerminalOptions options;
  std::string error;
  if (!ParseTerminalOptions(argc - 1, argv + 1, &options, &error)) {
    std::fprintf(stderr, "tap-terminal: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(TerminalUsage(), stdout);
    return 0;
  }
  InstallSignals();
  PtyLine line;
  if (!line.Open(options.link, &error)) {
    std::fprintf(stderr, "tap-terminal: %s\n", error.c_str());
    return 1;
  }
  std::FILE* trace = options.verbose ? stderr : nullptr;
  if (trace != nullptr) {
    std::fprintf(trace, "tap-terminal: %s -> %s\n", options.link.c_str(),
                 line.slave_path().c_str());
  }
  Outbox outbox;
  HayesModem modem(options.modem, options.terminal, &outbox);
  const int status = ServeLine(&line, &modem, &outbox, g_stop, stdout, trace);
  line.Close();
  return status;
}
