#include "eventlog/log_rotation.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "eventlog/blackout.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

class LogRotationTest : public testing::Test {
 protected:
  void Start(int machines, const std::string& words) {
    ParseWords(&options_, words);
    cursors_.Reset(machines);
  }

  // One visit: the numbers of the records handed out; its end in |end_|.
  std::vector<std::uint32_t> Visit() {
    std::vector<std::uint32_t> numbers;
    EventRecord record;
    char name[kLogNameSize];
    while ((end_ = rotation_.NextEvent(&record, name)) ==
           NextEventResult::kEvent)
      numbers.push_back(record.Header().RecordNumber);
    EXPECT_EQ(log_.open_handles, 0) << "a visit ended with its log open";
    return numbers;
  }

  void Fill(const char* machine, const char* log, int count) {
    while (count-- > 0) log_.Append(machine, log, EventFields());
  }

  NextEventResult end_;
  OptionTable options_;
  FakeEventLog log_;
  FakeConsole console_;
  OutputStream out_{console_};
  FakeClock clock_;
  Blackout blackout_{options_, clock_, out_};
  RecordCursorTable cursors_;
  LogRotation rotation_{options_, log_, out_, blackout_, cursors_};
};

// Records there at the first visit count as seen; after a clear or a wrap
// past the cursor, every record after the cursor, or from the oldest, is
// handed out.
TEST_F(LogRotationTest, CursorOutsideTheLog) {
  const struct {
    int before;    // records at the first visit
    int dropped;   // oldest records dropped (wrap) after it
    bool cleared;  // log cleared after it
    int added;     // records written afterwards
    std::vector<std::uint32_t> expected;
    std::uint32_t oldest = 0;  // number of the first record, when not 1
  } cases[] = {
      {100, 0, false, 2, {101, 102}},
      {0, 0, false, 2, {1, 2}},
      {5, 0, true, 3, {1, 2, 3}},
      {3, 0, true, 4, {4}},
      {5, 9, false, 7, {10, 11, 12}},
      {5, 5, false, 2, {6, 7}},
      {2, 0, false, 1, {0xFFFFFFFF}, 0xFFFFFFFD}};  // 0xFFFFFFFF is a number
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before * 100 + c.added);
    FakeEventLog::Log& log = log_.At("a", "System");
    log = FakeEventLog::Log();
    log.oldest = c.oldest;
    Start(1, "/M0 a /SYS");
    Fill("a", "System", c.before);
    EXPECT_TRUE(Visit().empty());
    if (c.cleared) log = FakeEventLog::Log();
    Fill("a", "System", c.added);
    if (c.dropped > 0) log_.Drop("a", "System", c.dropped);
    EXPECT_EQ(Visit(), c.expected);
    EXPECT_EQ(end_, NextEventResult::kCaughtUp);
  }
}

// A failure at each step ends the visit with Error, the cursor unchanged;
// only a failed open is reported.
TEST_F(LogRotationTest, Failures) {
  Start(2, "/M0 Nowhere /M1 b /SYS");
  Fill("b", "System", 1);
  Visit();
  EXPECT_EQ(end_, NextEventResult::kError);
  Visit();  // b: first visit, record 1 seen
  Fill("b", "System", 2);
  FakeEventLog::Log& b = log_.At("b", "System");
  for (bool FakeEventLog::Log::*fault :
       {&FakeEventLog::Log::fail_queries, &FakeEventLog::Log::fail_reads}) {
    b.*fault = true;
    Visit();  // Nowhere
    EXPECT_TRUE(Visit().empty());
    EXPECT_EQ(end_, NextEventResult::kError);
    EXPECT_EQ(*cursors_.Entry("System", 1), 1u);
    b.*fault = false;
  }
  Visit();  // Nowhere
  EXPECT_EQ(Visit(), (std::vector<std::uint32_t>{2, 3}));
  std::string line = "Unable to open System log on Nowhere\n";
  EXPECT_EQ(console_.console, line + line + line + line);
}

// A blackout beginning during a visit ends it; the records left come after.
TEST_F(LogRotationTest, BlackoutDuringAVisit) {
  Start(1, "/M0 a /SYS /B0 1-2");
  log_.At("a", "System");
  Visit();
  Fill("a", "System", 3);
  EventRecord record;
  char name[kLogNameSize];
  ASSERT_EQ(rotation_.NextEvent(&record, name), NextEventResult::kEvent);
  clock_.now = 3600;  // 01:00
  EXPECT_EQ(rotation_.NextEvent(&record, name), NextEventResult::kBlackout);
  EXPECT_EQ(log_.open_handles, 0);
  EXPECT_TRUE(Visit().empty());
  EXPECT_EQ(end_, NextEventResult::kBlackout);
  clock_.now = 7200;  // 02:00, the end hour is outside
  EXPECT_EQ(Visit(), (std::vector<std::uint32_t>{2, 3}));
}

// Through one day hour by hour: the hours blacked out, and one notice as each
// blackout begins.
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
    std::istringstream notices(c.notices);
    OptionTable options;
    ParseWords(&options, c.words);
    FakeConsole console;
    OutputStream out(console);
    FakeClock clock;
    Blackout blackout(options, clock, out);
    std::string dark, expected, from, to, end;
    for (clock.now = 1800; clock.now < 86400; clock.now += 3600) {
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
