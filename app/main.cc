#include <memory>

#include "app/run_state.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  std::unique_ptr<sentory::Console> console = sentory::MakeSystemConsole();
  std::unique_ptr<sentory::Clock> clock = sentory::MakeSystemClock();
  sentory::Platform platform{*console, *clock};
  sentory::RunState state(platform);
  sentory::RunSentory(state, argc, argv);
}
