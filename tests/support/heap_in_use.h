#ifndef SENTORY_TESTS_SUPPORT_HEAP_IN_USE_H_
#define SENTORY_TESTS_SUPPORT_HEAP_IN_USE_H_

#include <cstddef>

namespace sentory {

/// Bytes of the heap in use; false when this platform cannot tell.
bool HeapInUse(std::size_t* bytes);

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_HEAP_IN_USE_H_
