#include "app/validate.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
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

// A command line: "+" or "*" first adds a valid base, without or with paging;
// words split at blanks, "_" is a blank in a word, "''" an empty word and
// "c*N" N times c.
Words Line(std::string line) {
  Words words;
  if (line[0] == '+' || line[0] == '*') {
    words = {"/M0", "alpha", "/SYS", "/S", "EW"};
    if (line[0] == '*') {
      words.insert(words.end(),
                   {"/C", "COM1,9600,8,N,1", "/PH", "5551234", "/P0", "1234"});
    }
    line.erase(0, 1);
  }
  std::istringstream in(line);
  for (std::string w; std::getline(in, w, ' ');) {
    std::string word;
    for (std::size_t i = 0; i < w.size() && w != "''"; ++i) {
      std::size_t digits = 0;
      if (w[i] == '*')
        word.append(std::stoul(w.substr(i + 1), &digits) - 1, w[i - 1]);
      else
        word += w[i] == '_' ? ' ' : w[i];
      i += digits;
    }
    words.push_back(word);
  }
  return words;
}

// The line printed for |line| ("" when valid, which the result must agree
// with).
std::string Validate(const char* line, PageRateWindow* rate = nullptr,
                     SeveritySlots* slots = nullptr) {
  OptionTable table;
  ParseWords(&table, Line(line));
  FakeConsole console;
  OutputStream out(console);
  SeveritySlots own_slots;
  PageRateWindow own_rate;
  bool valid = ValidateOptions(table, out, slots ? slots : &own_slots,
                               rate ? rate : &own_rate);
  EXPECT_EQ(valid, console.console.empty()) << line;
  return valid ? "" : console.console.substr(0, console.console.size() - 1);
}

// Only the line of the first failing check, or nothing when valid. Where a
// line fails two neighbouring checks, the earlier one's line wins.
TEST(ValidateOptionsTest, ChecksInOrder) {
  const std::vector<const char*> cases[] = {
      // Valid. Program (quoted when it holds a blank), quoted time and the
      // opening quote of the text fit 1022 characters.
      {"+/R alert.exe", "*", "/M0 alpha /M2 /SYS /S E /R p",
       "/M0 '' /SYS /S E /R p", "/M0 a /APP /S e7 /R p", "+/R p*993",
       "+/R a_p*989", "+/R a\tp*991", "+/C ,,X*15,9600 /PH 1 /P0 2",
       "*/P1 7*248", "*/P1 _~", "*/MAX 5/60/9", "*/MAX _+5/_60x", "*/MAX",
       "+/R p /MAX abc", "+/R p /B0 22-6", "+/R p /B0 0-23", "+/R p /B1 99"},
      {"/SYS /S E /R p", "/M1 host /SYS /S E /R p", "/M0 /SYS /S E /R p",
       "/M0 alpha /M1 /SYS /S E /R p", "/S E /R p"},
      {"/M0 a /S E /R p", "/M0 a /R p"},
      {"/M0 a /APP /R p", "/M0 a /APP /S /R p", "/M0 a /APP /S xe /R p",
       "/M0 a /SYS /R p /SK"},
      {"+/R p /SK", "+/SK"},
      {"+", "+/B0"},
      {"+/R /L x", "+/R p*994", "+/R a_p*990", "+/R /C /PH 1 /P0 2"},
      {"+/C /PH 1 /P0 2", "+/C X*16,9600 /PH 1 /P0 2", "+/C /P0 2"},
      {"+/C COM1 /P0 2", "+/C COM1 /PH 5*123 /P0 2", "+/C COM1"},
      {"+/C COM1 /PH 1 /P1 2", "*/P1", "*/P1 7*249", "*/P1 12\xe9",
       "+/C COM1 /PH 1 /P0 1\t2", "+/C COM1 /PH 1 /MAX 0/60"},
      {"*/MAX 0/60", "*/MAX 5/0", "*/MAX 5", "*/MAX abc", "*/MAX -5/60",
       "*/MAX 5/-60", "*/MAX 5/99999999999", "*/MAX 0/60 /B0"},
      {"+/R p /B0 /L x", "+/R p /B0 1-2 /B1", "+/R p /B0 /B1 30-1"},
      {"+/R p /B0 24-6", "+/R p /B0 6-24", "+/R p /B0 6--1", "+/R p /B0 -1-5",
       "+/R p /B0 8", "+/R p /B0 30-1 /B1", "+/R p /B0 24-6 /L"},
      {"+/R p /L"},
  };
  for (int check = 0; check < 14; ++check) {
    for (const char* line : cases[check]) {
      EXPECT_EQ(Validate(line), kLine[check]) << line;
    }
  }
}

// "/S" and "/MAX" as read; without "/C" the rate keeps its defaults.
TEST(ValidateOptionsTest, FillsSeveritiesAndRate) {
  SeveritySlots slots;
  PageRateWindow rate, defaults;
  EXPECT_EQ(Validate("*/S eXwisfE /MAX 3/120", &rate, &slots), "");
  EXPECT_EQ(std::vector<std::uint32_t>(slots.slot, slots.slot + 5),
            (std::vector<std::uint32_t>{1, 0, 2, 4, 8}));
  EXPECT_EQ(Validate("+/R p /MAX 3/120", &defaults), "");
  EXPECT_EQ(std::vector<int>({rate.page_limit, rate.window_seconds,
                              defaults.page_limit, defaults.window_seconds}),
            std::vector<int>({3, 120, 5, 60}));
}

// As "%d/%d" reads: the count of numbers read, and only those written.
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
