#include "app/validate.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/int_pair.h"
#include "tests/support/fakes.h"

namespace sentory {
namespace {

using Words = std::vector<std::string>;

// The line of each check, in the order they run; 0 is no line.
const char* const kLine[] = {
    "",
    "Error: Machine(s) must be specified using /M",
    "Error: Log options must be specified using /APP, /SYS or /SEC",
    "Error: Severity options must be specified using /S",
    "Error: Event skip file must be specified when using /SK",
    "Error: Alert method must be specified- /C for paging or /R for program.",
    "Error: Program to run for alerts must be specified using /R",
    "Error: COM Port settings must be specified using /C",
    "Error: Pager phone number must be specified using /PH",
    "Error: Pager PIN(s) must be specified using /P",
    "Error: Specify valid maximum page rate using /MAX",
    "Error: Blackout period must be specified using /B",
    "Error: Specify blackout period hours from 0 to 23.",
    "Error: Output log file must be specified using /L",
};

// Validates |words|; returns the line printed, "" when valid.
std::string Validate(const Words& words, SeveritySlots* severities,
                     PageRateWindow* rate) {
  std::vector<const char*> argv = {"sentory"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  OptionTable table;
  table.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  FakeConsole console;
  OutputStream out(console);
  bool valid = ValidateOptions(table, out, severities, rate);
  EXPECT_EQ(valid, console.console.empty());
  return valid ? "" : console.console.substr(0, console.console.size() - 1);
}

// A valid base that each case changes in one place, with or without paging.
Words With(Words extra) {
  Words words = {"/M0", "alpha", "/SYS", "/S", "EW"};
  words.insert(words.end(), extra.begin(), extra.end());
  return words;
}
Words Paging(Words extra) {
  extra.insert(extra.begin(),
               {"/C", "COM1,9600,8,N,1", "/PH", "5551234", "/P0", "1234"});
  return With(extra);
}

// Given each command line, validation should print exactly the line of the
// first failing check, or nothing and report valid.
TEST(ValidateOptionsTest, ChecksInOrder) {
  const std::string p993(993, 'p'), x15(15, 'X');
  const struct {
    Words words;
    int check;  // the check that fails, 0 for none
  } cases[] = {
      {With({"/R", "alert.exe"}), 0},
      {Paging({}), 0},
      {{"/SYS", "/S", "E", "/R", "p"}, 1},
      {{"/M1", "host", "/SYS", "/S", "E", "/R", "p"}, 1},
      {{"/M0", "/SYS", "/S", "E", "/R", "p"}, 1},
      {{"/M0", "alpha", "/M1", "/SYS", "/S", "E", "/R", "p"}, 1},
      {{"/M0", "alpha", "/M2", "/SYS", "/S", "E", "/R", "p"}, 0},  // a gap
      {{"/M0", "", "/SYS", "/S", "E", "/R", "p"}, 0},
      {{"/M0", "a", "/S", "E", "/R", "p"}, 2},
      {{"/M0", "a", "/APP", "/R", "p"}, 3},
      {{"/M0", "a", "/APP", "/S", "/R", "p"}, 3},
      {{"/M0", "a", "/APP", "/S", "xe", "/R", "p"}, 3},
      {{"/M0", "a", "/APP", "/S", "e7", "/R", "p"}, 0},
      {With({"/R", "p", "/SK"}), 4},
      {With({}), 5},
      {With({"/R", "/L", "x"}), 6},
      // The command line before the alert text must fit 1022 characters:
      // program (quoted when it holds a blank), blank, quoted time, blank,
      // opening quote.
      {With({"/R", p993}), 0},
      {With({"/R", p993 + "p"}), 6},
      {With({"/R", "a " + p993.substr(4)}), 0},
      {With({"/R", "a " + p993.substr(3)}), 6},
      {With({"/R", "a\t" + p993.substr(2)}), 0},  // a tab does not quote
      {With({"/C", "/PH", "1", "/P0", "2"}), 7},
      {With({"/C", x15 + "X,9600", "/PH", "1", "/P0", "2"}), 7},
      {With({"/C", ",," + x15 + ",9600", "/PH", "1", "/P0", "2"}), 0},
      {With({"/C", "COM1", "/P0", "2"}), 8},
      {With({"/C", "COM1", "/PH", std::string(123, '5'), "/P0", "2"}), 8},
      {With({"/C", "COM1", "/PH", "1", "/P1", "2"}), 9},
      {Paging({"/P1"}), 9},
      {Paging({"/P1", std::string(249, '7')}), 9},
      {Paging({"/P1", std::string(248, '7')}), 0},
      {Paging({"/P1", "12\xe9"}), 9},
      {With({"/C", "COM1", "/PH", "1", "/P0", "1\t2"}), 9},
      {Paging({"/P1", " ~"}), 0},
      {Paging({"/MAX", "0/60"}), 10},
      {Paging({"/MAX", "5/0"}), 10},
      {Paging({"/MAX", "5"}), 10},
      {Paging({"/MAX", "abc"}), 10},
      {Paging({"/MAX", "-5/60"}), 10},
      {Paging({"/MAX", "5/-60"}), 10},
      {Paging({"/MAX", "5/99999999999"}), 10},
      {Paging({"/MAX", "5/60/9"}), 0},
      {Paging({"/MAX", " +5/ 60x"}), 0},
      {Paging({"/MAX"}), 0},
      {With({"/R", "p", "/MAX", "abc"}), 0},  // unread without /C
      {With({"/R", "p", "/B0", "22-6"}), 0},
      {With({"/R", "p", "/B0", "0-23"}), 0},
      {With({"/R", "p", "/B0", "24-6"}), 12},
      {With({"/R", "p", "/B0", "6-24"}), 12},
      {With({"/R", "p", "/B0", "6--1"}), 12},
      {With({"/R", "p", "/B0", "-1-5"}), 12},
      {With({"/R", "p", "/B0", "8"}), 12},
      {With({"/R", "p", "/B0", "/L", "x"}), 11},
      {With({"/R", "p", "/B0", "30-1", "/B1"}), 12},
      {With({"/R", "p", "/B1", "99"}), 0},  // after a gap, not read
      {With({"/R", "p", "/B0", "1-2", "/B1"}), 11},
      {With({"/R", "p", "/L"}), 13},
      // Each line below fails two checks, next to each other in the order
      // wherever both can fail at once; the earlier one's line wins. 5 fails
      // only without "/C" and "/R", which 6 to 10 need.
      {{"/S", "E", "/R", "p"}, 1},
      {{"/M0", "a", "/R", "p"}, 2},
      {{"/M0", "a", "/SYS", "/R", "p", "/SK"}, 3},
      {With({"/SK"}), 4},
      {With({"/B0"}), 5},
      {With({"/R", "/C", "/PH", "1", "/P0", "2"}), 6},
      {With({"/C", "/P0", "2"}), 7},
      {With({"/C", "COM1"}), 8},
      {With({"/C", "COM1", "/PH", "1", "/MAX", "0/60"}), 9},
      {Paging({"/MAX", "0/60", "/B0"}), 10},
      {With({"/R", "p", "/B0", "/B1", "30-1"}), 11},
      {With({"/R", "p", "/B0", "24-6", "/L"}), 12},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::string& w : c.words) trace += w.substr(0, 20) + " ";
    SeveritySlots slots;
    PageRateWindow rate;
    EXPECT_EQ(Validate(c.words, &slots, &rate), kLine[c.check]) << trace;
  }
}

// Given "/S" and "/MAX", validation should leave the slots and the rate as
// read; without "/C" the rate keeps its defaults.
TEST(ValidateOptionsTest, FillsSeveritiesAndRate) {
  SeveritySlots slots;
  PageRateWindow rate, defaults;
  ASSERT_EQ(Validate(Paging({"/S", "eXwisfE", "/MAX", "3/120"}), &slots, &rate),
            "");
  EXPECT_EQ(std::vector<std::uint32_t>(slots.slot, slots.slot + 5),
            (std::vector<std::uint32_t>{1, 0, 2, 4, 8}));
  EXPECT_EQ(rate.page_limit, 3);
  EXPECT_EQ(rate.window_seconds, 120);
  ASSERT_EQ(Validate(With({"/R", "p", "/MAX", "3/120"}), &slots, &defaults),
            "");
  EXPECT_EQ(defaults.page_limit, 5);
  EXPECT_EQ(defaults.window_seconds, 60);
}

// Given text as "%d/%d" reads it, the scan should count the numbers read and
// write only those.
TEST(ScanIntPairTest, CountsTheNumbersRead) {
  const struct {
    const char* text;
    int count, first, second;
  } cases[] = {{"abc", 0, 7, 7},
               {"\r-3x", 1, -3, 7},
               {"\n4/ +5z", 2, 4, 5},
               {"2147483648/1", 0, 7, 7},
               {"1/-2147483648", 2, 1, INT_MIN}};
  for (const auto& c : cases) {
    int first = 7, second = 7;
    EXPECT_EQ(ScanIntPair(c.text, '/', &first, &second), c.count) << c.text;
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(second, c.second) << c.text;
  }
}

}  // namespace
}  // namespace sentory
