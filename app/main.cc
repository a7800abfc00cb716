#include <memory>

#include "app/run_state.h"
#include "app/startup.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  std::unique_ptr<sentory::Console> console = sentory::MakeSystemConsole();
  std::unique_ptr<sentory::Clock> clock = sentory::MakeSystemClock();
  std::unique_ptr<sentory::EventLogService> event_log =
      sentory::MakeSystemEventLog();
  std::unique_ptr<sentory::RegistryService> registry =
      sentory::MakeSystemRegistry();
  std::unique_ptr<sentory::MessageModules> messages =
      sentory::MakeSystemMessageModules();
  std::unique_ptr<sentory::FileMapper> files = sentory::MakeSystemFileMapper();
  std::unique_ptr<sentory::ProcessLauncher> process =
      sentory::MakeSystemProcessLauncher();
  std::unique_ptr<sentory::SerialPorts> serial_ports =
      sentory::MakeSystemSerialPorts();
  sentory::Platform platform{*console,  *clock, *event_log, *registry,
                             *messages, *files, *process,   *serial_ports};
  sentory::RunState state(platform);
  sentory::RunSentory(state, argc, argv);
}
