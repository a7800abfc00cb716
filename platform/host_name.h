#ifndef SENTORY_PLATFORM_HOST_NAME_H_
#define SENTORY_PLATFORM_HOST_NAME_H_

#include <string>

namespace sentory {

/// The name of this machine; "" when the platform cannot tell it.
std::string HostName();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_HOST_NAME_H_
