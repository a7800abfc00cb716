#ifndef SENTORY_PLATFORM_PLATFORM_H_
#define SENTORY_PLATFORM_PLATFORM_H_

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/file_mapping.h"
#include "platform/message_module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/serial_port.h"

namespace sentory {

/// Every service of the operating system the program uses, handed to the
/// core as one bundle at startup. Tests hand in fakes.
struct Platform {
  Console& console;
  Clock& clock;
  EventLogService& event_log;
  RegistryService& registry;
  MessageModules& messages;
  FileMapper& files;
  ProcessLauncher& process;
  SerialPorts& serial_ports;
};

}  // namespace sentory

#endif  // SENTORY_PLATFORM_PLATFORM_H_
