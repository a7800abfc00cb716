// The machine's name on Windows. Only Win32 and C++ standard library code
// may live here.

#include <windows.h>

#include "platform/host_name.h"

namespace sentory {

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  if (!GetComputerNameA(name, &size)) return "";
  return std::string(name, size);
}

}  // namespace sentory
