#include "eventlog/blackout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace sentory {
namespace {

struct BlackoutCase {
  const char* name;
  std::vector<const char*> periods;  // /B0, /B1, ... in order
  std::string dark_hours;            // 24 characters: '#' blacked out
  std::vector<std::string> notices;  // lines written over one day
};

// Given each schedule, walking through one day hour by hour should black out
// exactly the listed hours and write one notice when each blackout begins.
TEST(BlackoutTest, HoursAndNotices) {
  const BlackoutCase cases[] = {
      {"across midnight",
       {"22-6"},
       "######................##",
       {"Blackout in effect from 22:00 to 6:00",
        "Blackout in effect from 22:00 to 6:00"}},
      {"office hours",
       {"9-17"},
       ".........########.......",
       {"Blackout in effect from 9:00 to 17:00"}},
      {"empty period", {"5-5"}, "........................", {}},
      {"0-23 leaves 23",
       {"0-23"},
       "#######################.",
       {"Blackout in effect from 0:00 to 23:00"}},
      {"whole day",
       {"0-23", "23-0"},
       "########################",
       {"Blackout in effect from 0:00 to 23:00"}},
      {"adjoining",
       {"1-3", "3-5"},
       ".####...................",
       {"Blackout in effect from 1:00 to 3:00"}},
      {"overlapping: first decides",
       {"2-6", "1-4"},
       ".#####..................",
       {"Blackout in effect from 1:00 to 4:00"}},
      {"two blackouts",
       {"1-2", "4-5"},
       ".#..#...................",
       {"Blackout in effect from 1:00 to 2:00",
        "Blackout in effect from 4:00 to 5:00"}},
      {"none", {}, "........................", {}},
  };
  for (const BlackoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {"sentory"};
    for (std::size_t i = 0; i < c.periods.size(); ++i) {
      words.push_back("/B" + std::to_string(i));
      words.push_back(c.periods[i]);
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    OptionTable options;
    options.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    FakeConsole console;
    OutputStream out(console);
    FakeClock clock;
    Blackout blackout(options, clock, out);
    std::string dark;
    for (int hour = 0; hour < 24; ++hour) {
      clock.now = hour * 3600 + 1800;
      bool first = blackout.InBlackout();
      EXPECT_EQ(blackout.InBlackout(), first);  // asked again: same answer
      dark += first ? '#' : '.';
    }
    EXPECT_EQ(dark, c.dark_hours);
    std::string expected;
    for (const std::string& line : c.notices) expected += line + "\n";
    EXPECT_EQ(console.console, expected);
  }
}

// Given /B1 without /B0, there should never be a blackout.
TEST(BlackoutTest, GapEndsTheSchedule) {
  const char* argv[] = {"sentory", "/B1", "0-23"};
  OptionTable options;
  options.ParseCommandLine(3, argv);
  FakeConsole console;
  OutputStream out(console);
  FakeClock clock;
  Blackout blackout(options, clock, out);
  clock.now = 3600 * 5;
  EXPECT_FALSE(blackout.InBlackout());
}

}  // namespace
}  // namespace sentory
