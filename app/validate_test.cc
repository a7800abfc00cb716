#include "app/validate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace sentory {
namespace {

constexpr const char* kMachines =
    "Error: Machine(s) must be specified using /M";
constexpr const char* kLogs =
    "Error: Log options must be specified using /APP, /SYS or /SEC";
constexpr const char* kSeverity =
    "Error: Severity options must be specified using /S";
constexpr const char* kSkip =
    "Error: Event skip file must be specified when using /SK";
constexpr const char* kMethod =
    "Error: Alert method must be specified- /C for paging or /R for program.";
constexpr const char* kProgram =
    "Error: Program to run for alerts must be specified using /R";
constexpr const char* kCom =
    "Error: COM Port settings must be specified using /C";
constexpr const char* kPhone =
    "Error: Pager phone number must be specified using /PH";
constexpr const char* kPin = "Error: Pager PIN(s) must be specified using /P";
constexpr const char* kRate =
    "Error: Specify valid maximum page rate using /MAX";
constexpr const char* kBlackout =
    "Error: Blackout period must be specified using /B";
constexpr const char* kHours =
    "Error: Specify blackout period hours from 0 to 23.";
constexpr const char* kLogFile =
    "Error: Output log file must be specified using /L";

struct Outcome {
  bool valid;
  std::string line;  // what was printed, without its line end
};

Outcome Validate(const std::vector<std::string>& words,
                 SeveritySlots* severities = nullptr,
                 PageRateWindow* rate = nullptr) {
  std::vector<const char*> argv = {"sentory"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  OptionTable table;
  table.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  FakeConsole console;
  OutputStream out(console);
  SeveritySlots local_severities;
  PageRateWindow local_rate;
  bool valid =
      ValidateOptions(table, out, severities ? severities : &local_severities,
                      rate ? rate : &local_rate);
  std::string printed = console.console;
  if (!printed.empty() && printed.back() == '\n') printed.pop_back();
  return {valid, printed};
}

// A valid base that each case changes in one place.
std::vector<std::string> With(std::vector<std::string> extra) {
  std::vector<std::string> words = {"/M0", "alpha", "/SYS", "/S", "EW"};
  words.insert(words.end(), extra.begin(), extra.end());
  return words;
}

const std::vector<std::string> kPaging = {
    "/C", "COM1,9600,8,N,1", "/PH", "5551234", "/P0", "1234"};

std::vector<std::string> Paging(std::vector<std::string> extra) {
  std::vector<std::string> words = kPaging;
  words.insert(words.end(), extra.begin(), extra.end());
  return With(words);
}

struct Case {
  const char* name;
  std::vector<std::string> words;
  const char* line;  // nullptr: valid, nothing printed
};

// Given each command line, validation should print exactly the line of the
// first failing check, or nothing and report valid.
TEST(ValidateOptionsTest, ChecksInOrder) {
  const std::string long_port(16, 'X');
  const std::string long_phone(123, '5');
  const std::string long_pin(249, '7');
  const Case cases[] = {
      {"valid with program", With({"/R", "alert.exe"}), nullptr},
      {"valid with paging", Paging({}), nullptr},
      {"no machine", {"/SYS", "/S", "E", "/R", "p"}, kMachines},
      {"/M1 without /M0",
       {"/M1", "host", "/SYS", "/S", "E", "/R", "p"},
       kMachines},
      {"/M0 present without value",
       {"/M0", "/SYS", "/S", "E", "/R", "p"},
       kMachines},
      {"/M1 without value",
       {"/M0", "alpha", "/M1", "/SYS", "/S", "E", "/R", "p"},
       kMachines},
      {"gap ends the machine list",
       {"/M0", "alpha", "/M2", "/SYS", "/S", "E", "/R", "p"},
       nullptr},
      {"empty machine word counts",
       {"/M0", "", "/SYS", "/S", "E", "/R", "p"},
       nullptr},
      {"no log", {"/M0", "a", "/S", "E", "/R", "p"}, kLogs},
      {"no /S", {"/M0", "a", "/APP", "/R", "p"}, kSeverity},
      {"/S without value", {"/M0", "a", "/APP", "/S", "/R", "p"}, kSeverity},
      {"/S xe", {"/M0", "a", "/APP", "/S", "xe", "/R", "p"}, kSeverity},
      {"/S e7", {"/M0", "a", "/APP", "/S", "e7", "/R", "p"}, nullptr},
      {"/SK last", With({"/R", "p", "/SK"}), kSkip},
      {"no alert method", With({}), kMethod},
      {"/R without value", With({"/R", "/L", "x"}), kProgram},
      // The command line before the alert text must fit 1022 characters:
      // program, blank, quoted time, blank, opening quote.
      {"program of 993", With({"/R", std::string(993, 'p')}), nullptr},
      {"program of 994", With({"/R", std::string(994, 'p')}), kProgram},
      {"blank quotes the program", With({"/R", "a " + std::string(989, 'p')}),
       nullptr},
      {"quoted program too long", With({"/R", "a " + std::string(990, 'p')}),
       kProgram},
      {"tab does not quote", With({"/R", "a\t" + std::string(991, 'p')}),
       nullptr},
      {"/C without value", With({"/C", "/PH", "1", "/P0", "2"}), kCom},
      {"/C port name too long",
       With({"/C", long_port + ",9600", "/PH", "1", "/P0", "2"}), kCom},
      {"/C port name of 15 after commas",
       With({"/C", ",," + std::string(15, 'X') + ",9600", "/PH", "1", "/P0",
             "2"}),
       nullptr},
      {"no phone though /P0 given", With({"/C", "COM1", "/P0", "2"}), kPhone},
      {"phone too long", With({"/C", "COM1", "/PH", long_phone, "/P0", "2"}),
       kPhone},
      {"/P1 without /P0", With({"/C", "COM1", "/PH", "1", "/P1", "2"}), kPin},
      {"/P1 without value", Paging({"/P1"}), kPin},
      {"PIN too long", Paging({"/P1", long_pin}), kPin},
      {"PIN of 248", Paging({"/P1", std::string(248, '7')}), nullptr},
      {"PIN with a byte above 0x7E", Paging({"/P1", "12\xe9"}), kPin},
      {"PIN with a TAB", With({"/C", "COM1", "/PH", "1", "/P0", "1\t2"}), kPin},
      {"PIN of blank and tilde", Paging({"/P1", " ~"}), nullptr},
      {"/MAX 0/60", Paging({"/MAX", "0/60"}), kRate},
      {"/MAX 5/0", Paging({"/MAX", "5/0"}), kRate},
      {"/MAX 5", Paging({"/MAX", "5"}), kRate},
      {"/MAX abc", Paging({"/MAX", "abc"}), kRate},
      {"/MAX negative count", Paging({"/MAX", "-5/60"}), kRate},
      {"/MAX negative window", Paging({"/MAX", "5/-60"}), kRate},
      {"/MAX overflow", Paging({"/MAX", "5/99999999999"}), kRate},
      {"/MAX 5/60/9", Paging({"/MAX", "5/60/9"}), nullptr},
      {"/MAX with blanks", Paging({"/MAX", " +5/ 60x"}), nullptr},
      {"/MAX without value", Paging({"/MAX"}), nullptr},
      {"/MAX unread without /C", With({"/R", "p", "/MAX", "abc"}), nullptr},
      {"/B0 22-6", With({"/R", "p", "/B0", "22-6"}), nullptr},
      {"/B0 0-23", With({"/R", "p", "/B0", "0-23"}), nullptr},
      {"/B0 24-6", With({"/R", "p", "/B0", "24-6"}), kHours},
      {"/B0 6-24", With({"/R", "p", "/B0", "6-24"}), kHours},
      {"/B0 6--1", With({"/R", "p", "/B0", "6--1"}), kHours},
      {"/B0 -1-5", With({"/R", "p", "/B0", "-1-5"}), kHours},
      {"/B0 8", With({"/R", "p", "/B0", "8"}), kHours},
      {"/B0 without value", With({"/R", "p", "/B0", "/L", "x"}), kBlackout},
      {"/B1 without value after a bad /B0",
       With({"/R", "p", "/B0", "30-1", "/B1"}), kHours},
      {"/B1 after a gap is not tested", With({"/R", "p", "/B1", "99"}),
       nullptr},
      {"/B1 without value", With({"/R", "p", "/B0", "1-2", "/B1"}), kBlackout},
      {"/L last", With({"/R", "p", "/L"}), kLogFile},
      // Each line below fails two checks, next to each other in the order
      // wherever both can fail at once; the earlier one's line wins.
      {"1 before 2", {"/S", "E", "/R", "p"}, kMachines},
      {"2 before 3", {"/M0", "a", "/R", "p"}, kLogs},
      {"3 before 4", {"/M0", "a", "/SYS", "/R", "p", "/SK"}, kSeverity},
      {"4 before 5", With({"/SK"}), kSkip},
      // 5 fails only without "/C" and "/R", which 6 to 10 need.
      {"5 before 11", With({"/B0"}), kMethod},
      {"6 before 7", With({"/R", "/C", "/PH", "1", "/P0", "2"}), kProgram},
      {"7 before 8", With({"/C", "/P0", "2"}), kCom},
      {"8 before 9", With({"/C", "COM1"}), kPhone},
      {"9 before 10", With({"/C", "COM1", "/PH", "1", "/MAX", "0/60"}), kPin},
      {"10 before 11", Paging({"/MAX", "0/60", "/B0"}), kRate},
      {"11 before 12 of a later period",
       With({"/R", "p", "/B0", "/B1", "30-1"}), kBlackout},
      {"12 before 13", With({"/R", "p", "/B0", "24-6", "/L"}), kHours},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = Validate(c.words);
    EXPECT_EQ(o.valid, c.line == nullptr);
    EXPECT_EQ(o.line, c.line ? c.line : "");
  }
}

// Given "/S" and "/MAX", validation should leave the slots and the rate as
// read.
TEST(ValidateOptionsTest, FillsSeveritiesAndRate) {
  SeveritySlots slots;
  PageRateWindow rate;
  ASSERT_TRUE(
      Validate(Paging({"/S", "eXwisfE", "/MAX", "3/120"}), &slots, &rate)
          .valid);
  const std::uint32_t expected[] = {1, 0, 2, 4, 8};
  for (int i = 0; i < SeveritySlots::kCount; ++i) {
    EXPECT_EQ(slots.slot[i], expected[i]) << i;
  }
  EXPECT_EQ(rate.page_limit, 3);
  EXPECT_EQ(rate.window_seconds, 120);

  PageRateWindow defaults;
  ASSERT_TRUE(
      Validate(With({"/R", "p", "/MAX", "3/120"}), nullptr, &defaults).valid);
  EXPECT_EQ(defaults.page_limit, 5);
  EXPECT_EQ(defaults.window_seconds, 60);
}

}  // namespace
}  // namespace sentory
