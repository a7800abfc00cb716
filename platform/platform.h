#ifndef SENTORY_PLATFORM_PLATFORM_H_
#define SENTORY_PLATFORM_PLATFORM_H_

#include "platform/clock.h"
#include "platform/console.h"

namespace sentory {

/// Every service of the operating system the program uses, handed to the
/// core as one bundle at startup. Tests hand in fakes.
struct Platform {
  Console& console;
  Clock& clock;
};

}  // namespace sentory

#endif  // SENTORY_PLATFORM_PLATFORM_H_
