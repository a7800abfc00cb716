#include "tests/support/fakes.h"

#include <ctime>
#include <deque>
#include <sstream>

namespace sentory {

void ParseWords(OptionTable* table, const std::vector<std::string>& words) {
  static std::deque<std::string> kept;
  std::vector<const char*> argv = {"sentory"};
  for (const std::string& word : words)
    argv.push_back(kept.emplace_back(word).c_str());
  table->ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

void ParseWords(OptionTable* table, const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  ParseWords(table, words);
}

bool FakeClock::ToLocalTime(std::int64_t time, CalendarTime* out) {
  std::time_t t = static_cast<std::time_t>(time);
  const std::tm* tm = std::gmtime(&t);
  if (tm == nullptr) return false;
  *out = {tm->tm_year + 1900, tm->tm_mon, tm->tm_mday, tm->tm_hour,
          tm->tm_min,         tm->tm_sec, tm->tm_wday};
  return true;
}

void FakeClock::Sleep(std::uint32_t ms) {
  if (stop_after_sleeps >= 0 &&
      static_cast<int>(sleeps.size()) >= stop_after_sleeps) {
    throw ProcessEnded{-1};
  }
  sleeps.push_back(ms);
  milliseconds += ms;
  now += milliseconds / 1000;
  milliseconds %= 1000;
}

}  // namespace sentory
