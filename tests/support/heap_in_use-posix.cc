#include <malloc.h>

#include "tests/support/heap_in_use.h"

// Under AddressSanitizer, which owns the heap.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes()
    __attribute__((weak));

namespace sentory {

bool HeapInUse(std::size_t* bytes) {
  if (__sanitizer_get_current_allocated_bytes != nullptr) {
    *bytes = __sanitizer_get_current_allocated_bytes();
  } else {
    struct mallinfo2 info = mallinfo2();
    *bytes = info.uordblks + info.hblkhd;
  }
  return true;
}

}  // namespace sentory
