#include "paging/paging_dispatcher.h"

#include <string>

namespace sentory {
namespace {

constexpr std::uint32_t kRatePauseMs = 3000;
constexpr std::uint32_t kErrorToneHz = 500;
constexpr std::uint32_t kErrorToneMs = 250;

const char* ValueOrEmpty(const char* value) {
  return value != nullptr ? value : "";
}

}  // namespace

PagingDispatcher::PagingDispatcher(const OptionTable& options,
                                   OutputStream& out, Clock& clock,
                                   ModemLink& link, PageRateWindow& rate)
    : options_(options), out_(out), clock_(clock), link_(link), rate_(rate) {}

int PagingDispatcher::SendPages(int mode, char* text) {
  if (mode == kHangUp) return HangUpMode();
  if (mode != kSend) return 1;

  WaitForRate();

  if (!link_.IsConnected()) {
    const char* phone = ValueOrEmpty(options_.OptionValue("/PH"));
    if (link_.Connect(phone) != 0) {
      if (connect_error_) return 1;
      connect_error_ = true;
      out_.Line({" Error connecting to ", phone, " on ",
                 ValueOrEmpty(options_.OptionValue("/C"))});
      clock_.Beep(kErrorToneHz, kErrorToneMs);
      return 1;
    }
    exchange_.reset();
    connect_error_ = false;
  }
  if (!exchange_) {
    exchange_.emplace(link_.ports(), link_.PortHandle(),
                      options_.HasOption("/D"), out_);
  }

  char empty[1] = {'\0'};
  if (text == nullptr) text = empty;
  int delivered = 0;
  out_.Write(" Paged:");
  for (int n = 0;; ++n) {
    const char* pin =
        ValueOrEmpty(options_.OptionValue(OptionTable::NumberedKey("/P", n)));
    out_.Write(" ");
    out_.Write(pin);
    if (exchange_->SendPage(pin, text) == 0) {
      ++rate_.pages_in_window;
      ++delivered;
    } else {
      out_.Write("(error)");
    }
    if (!options_.HasOption(OptionTable::NumberedKey("/P", n + 1))) break;
  }
  if (delivered == 0) {
    HangUpMode();
    out_.Write(" No pages sent. Retrying...");
  }
  out_.Line({});
  return delivered == 0 ? 1 : 0;
}

int PagingDispatcher::HangUpMode() {
  if (!link_.IsConnected()) return 0;
  if (exchange_) exchange_->LogOff();
  exchange_.reset();
  return link_.HangUp();
}

// The window is fixed and compared as unsigned 32-bit values: a new window
// starts once more than its length has passed since its start; until then,
// with the limit reached, the line is hung up and paging waits. Validation
// lets only positive limits and lengths through, so every window ends.
void PagingDispatcher::WaitForRate() {
  const std::uint32_t limit = static_cast<std::uint32_t>(rate_.page_limit);
  const std::uint32_t length = static_cast<std::uint32_t>(rate_.window_seconds);
  do {
    std::uint32_t now = static_cast<std::uint32_t>(clock_.Now());
    if (now - rate_.window_start > length) {
      rate_.window_start = static_cast<std::uint32_t>(clock_.Now());
      rate_.pages_in_window = 0;
    } else if (rate_.pages_in_window >= limit) {
      HangUpMode();
      clock_.Sleep(kRatePauseMs);
    }
  } while (rate_.pages_in_window >= limit);
}

}  // namespace sentory
