#include "app/scan_loop.h"

namespace sentory {
namespace {
constexpr std::uint32_t kPassPauseMs = 3000;
}  // namespace

void ScanAndAlert(RunState& state) {
  state.out.Line({"Scanning event logs (ctrl-c to quit)..."});
  for (;;) state.platform.clock.Sleep(kPassPauseMs);
}

}  // namespace sentory
