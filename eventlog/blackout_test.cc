#include "eventlog/blackout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace sentory {
namespace {

struct BlackoutCase {
  const char* name;
  std::vector<const char*> words;    // the blackout options
  std::string dark_hours;            // 24 characters: '#' blacked out
  std::vector<std::string> notices;  // lines written over one day
};

// Given each schedule, walking through one day hour by hour should black out
// exactly the listed hours and write one notice when each blackout begins.
TEST(BlackoutTest, HoursAndNotices) {
  const BlackoutCase cases[] = {
      {"across midnight",
       {"/B0", "22-6"},
       "######................##",
       {"Blackout in effect from 22:00 to 6:00",
        "Blackout in effect from 22:00 to 6:00"}},
      {"empty period", {"/B0", "5-5"}, "........................", {}},
      {"0-23 leaves 23",
       {"/B0", "0-23"},
       "#######################.",
       {"Blackout in effect from 0:00 to 23:00"}},
      {"whole day",
       {"/B0", "0-23", "/B1", "23-0"},
       "########################",
       {"Blackout in effect from 0:00 to 23:00"}},
      {"adjoining",
       {"/B0", "1-3", "/B1", "3-5"},
       ".####...................",
       {"Blackout in effect from 1:00 to 3:00"}},
      {"overlapping: first decides",
       {"/B0", "2-6", "/B1", "1-4"},
       ".#####..................",
       {"Blackout in effect from 1:00 to 4:00"}},
      {"two blackouts",
       {"/B0", "1-2", "/B1", "4-5"},
       ".#..#...................",
       {"Blackout in effect from 1:00 to 2:00",
        "Blackout in effect from 4:00 to 5:00"}},
      {"none", {}, "........................", {}},
      {"gap ends the schedule",
       {"/B1", "0-23"},
       "........................",
       {}},
  };
  for (const BlackoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv = {"sentory"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
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

}  // namespace
}  // namespace sentory
