#include "tools/tap-terminal/line_server.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "tools/tap-terminal/page_line.h"

namespace sentory::tapterm {

namespace {

// Longest wait for input before the stop flag is looked at again.
constexpr std::int64_t kIdlePollMs = 100;
// Pause while no one has the other side open: the master reports a hang-up
// at once until someone does.
constexpr int kClosedPauseMs = 50;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Trace(std::FILE* trace, const char* direction, const std::string& text) {
  if (trace == nullptr) return;
  std::fprintf(trace, "tap-terminal: %s %s\n", direction, text.c_str());
  std::fflush(trace);
}

}  // namespace

int ServeLine(PtyLine* line, HayesModem* modem, Outbox* outbox,
              const std::atomic<bool>& stop, std::FILE* pages,
              std::FILE* trace) {
  bool other_side_open = false;
  std::string input;
  std::string error;
  while (!stop.load()) {
    std::int64_t now = NowMs();
    modem->Tick(now);
    std::size_t done = 0;
    for (; done < outbox->line.size() && outbox->line[done].due_ms <= now;
         ++done) {
      const LineOutput& item = outbox->line[done];
      if (item.close_line) {
        Trace(trace, "--", "line closed");
        if (!line->Reopen(&error)) {
          std::fprintf(trace ? trace : stderr, "tap-terminal: %s\n",
                       error.c_str());
          return 1;
        }
        other_side_open = false;
        Trace(trace, "--", "new line " + line->slave_path());
      } else {
        Trace(trace, "<-", VisibleBytes(item.bytes));
        line->Write(item.bytes);
      }
    }
    outbox->line.erase(outbox->line.begin(), outbox->line.begin() + done);
    for (const Page& page : outbox->pages) {
      std::fprintf(pages, "%s\n", PageLine(page).c_str());
      std::fflush(pages);
    }
    outbox->pages.clear();

    std::int64_t timeout = kIdlePollMs;
    if (!outbox->line.empty()) {
      timeout = std::min(timeout, outbox->line.front().due_ms - now);
    }
    const std::int64_t deadline = modem->NextDeadline();
    if (deadline >= 0) timeout = std::min(timeout, deadline - now);
    pollfd wait{line->fd(), POLLIN, 0};
    const int ready =
        poll(&wait, 1, static_cast<int>(std::max<std::int64_t>(timeout, 0)));
    if (ready < 0 && errno != EINTR) {
      std::fprintf(trace ? trace : stderr, "tap-terminal: poll failed\n");
      return 1;
    }
    if (ready <= 0) continue;
    ReadStatus status = ReadStatus::kClosed;
    if (wait.revents & POLLIN) status = line->Read(&input);
    if (status == ReadStatus::kData) {
      other_side_open = true;
      Trace(trace, "->", VisibleBytes(input));
      modem->Feed(input, NowMs());
    } else if (status == ReadStatus::kClosed) {
      if (other_side_open) {
        // The port was closed: the call ends and nothing queued for it is
        // sent to whoever opens the port next.
        other_side_open = false;
        Trace(trace, "--", "other side closed the line");
        modem->DropDtr();
        outbox->line.clear();
        line->DiscardUnread();
      }
      poll(nullptr, 0, kClosedPauseMs);
    }
  }
  return 0;
}

}  // namespace sentory::tapterm
