// The services this platform has no backend for yet.

#include "platform/unreachable_services.h"

namespace sentory {

std::unique_ptr<RegistryService> MakeSystemRegistry() {
  return std::make_unique<UnreachableRegistry>();
}

std::unique_ptr<MessageModules> MakeSystemMessageModules() {
  return std::make_unique<UnreachableMessages>();
}

}  // namespace sentory
