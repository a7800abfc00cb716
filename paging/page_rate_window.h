#ifndef SENTORY_PAGING_PAGE_RATE_WINDOW_H_
#define SENTORY_PAGING_PAGE_RATE_WINDOW_H_

namespace sentory {

/// The page-rate limit: at most |page_limit| pages within |window_seconds|.
/// "/MAX" replaces the defaults during validation.
struct PageRateWindow {
  int page_limit = 5;
  int window_seconds = 60;
};

}  // namespace sentory

#endif  // SENTORY_PAGING_PAGE_RATE_WINDOW_H_
