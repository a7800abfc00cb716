#ifndef SENTORY_PAGING_PAGING_DISPATCHER_H_
#define SENTORY_PAGING_PAGING_DISPATCHER_H_

#include <optional>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "paging/modem_link.h"
#include "paging/page_rate_window.h"
#include "paging/tap_exchange.h"
#include "platform/clock.h"

namespace sentory {

/// Turns alerts into pages: one page to each PIN ("/P0", "/P1", ...) over
/// the modem link, within the "/MAX" rate, with one result line per alert.
/// Owns the current TAP exchange, which exists exactly while the link is
/// connected, and the connect-error flag.
class PagingDispatcher {
 public:
  static constexpr int kSend = 0;
  static constexpr int kHangUp = 1;

  /// Uses the options "/PH", "/C", "/D" and the PINs of |options|, dials
  /// through |link| and counts pages in |rate|. Keeps references to all.
  PagingDispatcher(const OptionTable& options, OutputStream& out, Clock& clock,
                   ModemLink& link, PageRateWindow& rate);

  /// Mode kSend (0): waits while the page rate is used up, dials when the
  /// line is down, and sends |text| to every PIN, writing the " Paged:"
  /// line. Non-printable characters of |text| become '.' in place. Returns
  /// 0 when at least one PIN received the page; 1 when none did or the
  /// connect failed (the connect error is written only for the first of a
  /// row of failures), and the caller should try again later.
  /// Mode kHangUp (1): logs off and hangs up when the line is up; |text| is
  /// not used; returns 0. Any other mode returns 1 and does nothing.
  int SendPages(int mode, char* text);

 private:
  int HangUpMode();
  void WaitForRate();

  const OptionTable& options_;
  OutputStream& out_;
  Clock& clock_;
  ModemLink& link_;
  PageRateWindow& rate_;
  std::optional<TapExchange> exchange_;
  bool connect_error_ = false;
};

}  // namespace sentory

#endif  // SENTORY_PAGING_PAGING_DISPATCHER_H_
