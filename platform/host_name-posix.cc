// The machine's name on POSIX systems. Only POSIX and C++ standard library
// code may live here.

#include <unistd.h>

#include "platform/host_name.h"

namespace sentory {

namespace {
// Longer than any host name POSIX systems allow.
constexpr std::size_t kHostNameSize = 256;
}  // namespace

std::string HostName() {
  char name[kHostNameSize + 1] = {};
  if (gethostname(name, kHostNameSize) != 0) return "";
  return name;
}

}  // namespace sentory
