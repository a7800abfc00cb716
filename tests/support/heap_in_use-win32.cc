#include <malloc.h>

#include "tests/support/heap_in_use.h"

namespace sentory {

bool HeapInUse(std::size_t* bytes) {
  _HEAPINFO entry = {};
  std::size_t total = 0;
  int status;
  while ((status = _heapwalk(&entry)) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) total += entry._size;
  }
  *bytes = total;
  return status == _HEAPEND;
}

}  // namespace sentory
