#ifndef SENTORY_PAGING_PAGE_RATE_WINDOW_H_
#define SENTORY_PAGING_PAGE_RATE_WINDOW_H_

#include <cstdint>

namespace sentory {

/// The page-rate limit: at most |page_limit| pages within |window_seconds|.
/// "/MAX" replaces the defaults during validation. The window is fixed: it
/// runs from |window_start| until more than |window_seconds| have passed,
/// and |pages_in_window| counts the pages delivered since its start.
struct PageRateWindow {
  int page_limit = 5;
  int window_seconds = 60;
  std::uint32_t window_start = 0;  ///< seconds since 1970, 0 at start
  std::uint32_t pages_in_window = 0;
};

}  // namespace sentory

#endif  // SENTORY_PAGING_PAGE_RATE_WINDOW_H_
