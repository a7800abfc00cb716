#include "tests/support/fakes.h"

namespace sentory {

void FakeConsole::Write(std::string_view text) {
  if (output_closed) return;
  (log_path.empty() ? console : log).append(text);
}

bool FakeConsole::ReopenOutput(const char* path) {
  if (refuse_reopen) return false;
  log_path = path;
  return true;
}

void FakeConsole::ExitProcess(int status) {
  exits.push_back(status);
  exited_at_once = false;
  throw ProcessEnded{status};
}

void FakeConsole::ExitProcessNow(int status) {
  exits.push_back(status);
  exited_at_once = true;
  throw ProcessEnded{status};
}

bool FakeClock::ToLocalTime(std::int64_t time, CalendarTime* out) {
  // Proleptic Gregorian calendar from days since 1970 (civil_from_days).
  std::int64_t local = time + utc_offset;
  std::int64_t days = local / 86400;
  std::int64_t secs = local % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  out->year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  out->month = static_cast<int>(month - 1);
  out->day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out->hour = static_cast<int>(secs / 3600);
  out->minute = static_cast<int>(secs / 60 % 60);
  out->second = static_cast<int>(secs % 60);
  out->weekday = static_cast<int>(((days % 7) + 11) % 7);
  return true;
}

void FakeClock::Sleep(std::uint32_t milliseconds) {
  if (stop_after_sleeps >= 0 &&
      static_cast<int>(sleeps.size()) >= stop_after_sleeps) {
    throw ProcessEnded{-1};
  }
  sleeps.push_back(milliseconds);
  pending_milliseconds_ += milliseconds;
  now += pending_milliseconds_ / 1000;
  pending_milliseconds_ %= 1000;
}

}  // namespace sentory
