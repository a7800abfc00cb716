#include "eventlog/blackout.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace sentory {
namespace {

// Given each schedule, walking through one day hour by hour should black out
// exactly the listed hours and write one notice when each blackout begins.
TEST(BlackoutTest, HoursAndNotices) {
  const struct {
    const char* words;    // the blackout options
    const char* dark;     // 24 hours: '#' blacked out
    const char* notices;  // "start to end" of each notice written
  } cases[] = {
      {"/B0 22-6", "######................##", "22:00 to 6:00 22:00 to 6:00"},
      {"/B0 5-5", "........................", ""},
      {"/B0 0-23", "#######################.", "0:00 to 23:00"},
      {"/B0 0-23 /B1 23-0", "########################", "0:00 to 23:00"},
      {"/B0 1-3 /B1 3-5", ".####...................", "1:00 to 3:00"},
      {"/B0 2-6 /B1 1-4", ".#####..................", "1:00 to 4:00"},
      {"/B0 1-2 /B1 4-5", ".#..#...................",
       "1:00 to 2:00 4:00 to 5:00"},
      {"", "........................", ""},
      {"/B1 0-23", "........................", ""},  // a gap ends the list
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    std::istringstream words(c.words), notices(c.notices);
    std::vector<std::string> args = {"sentory"};
    for (std::string w; words >> w;) args.push_back(w);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    OptionTable options;
    options.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    FakeConsole console;
    OutputStream out(console);
    FakeClock clock;
    Blackout blackout(options, clock, out);
    std::string dark, expected, from, to, end;
    for (int hour = 0; hour < 24; ++hour) {
      clock.now = hour * 3600 + 1800;
      bool first = blackout.InBlackout();
      EXPECT_EQ(blackout.InBlackout(), first);  // asked again: same answer
      dark += first ? '#' : '.';
    }
    while (notices >> from >> to >> end) {
      expected += "Blackout in effect from " + from + " to " + end + "\n";
    }
    EXPECT_EQ(dark, c.dark);
    EXPECT_EQ(console.console, expected);
  }
}

}  // namespace
}  // namespace sentory
