#include "eventlog/log_rotation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_services.h"

namespace sentory {
namespace {

class LogRotationTest : public testing::Test {
 protected:
  void Start(int machines, std::vector<const char*> words) {
    words_ = words;
    words_.insert(words_.begin(), "sentory");
    options_.ParseCommandLine(static_cast<int>(words_.size()), words_.data());
    cursors_.Reset(machines);
  }

  // One visit: the numbers of the records handed out, then its end.
  std::vector<std::uint32_t> Visit(NextEventResult* end = nullptr) {
    std::vector<std::uint32_t> numbers;
    for (;;) {
      EventRecord record;
      char name[kLogNameSize];
      NextEventResult result = rotation_.NextEvent(&record, name);
      if (result != NextEventResult::kEvent) {
        if (end != nullptr) *end = result;
        EXPECT_EQ(log_.open_handles, 0) << "a visit ended with its log open";
        return numbers;
      }
      numbers.push_back(record.Header().RecordNumber);
    }
  }

  void Fill(const char* machine, const char* log, int count) {
    for (int i = 0; i < count; ++i) log_.Append(machine, log, EventFields());
  }

  std::vector<const char*> words_;
  OptionTable options_;
  FakeEventLog log_;
  FakeConsole console_;
  OutputStream out_{console_};
  FakeClock clock_;
  Blackout blackout_{options_, clock_, out_};
  RecordCursorTable cursors_;
  LogRotation rotation_{options_, log_, out_, blackout_, cursors_};
};

// Given two machines, two logs and a machine after a gap, the visits should
// run System then Application on each machine in turn, whatever the order
// of the options.
TEST_F(LogRotationTest, VisitingOrder) {
  Start(2, {"/APP", "/SYS", "/M0", "a", "/M1", "b", "/M3", "d"});
  for (const char* m : {"a", "b", "d"}) {
    log_.At(m, "System");
    log_.At(m, "Application");
  }
  for (int i = 0; i < 5; ++i) Visit();
  EXPECT_EQ(log_.opens,
            (std::vector<std::string>{"A/System", "A/Application", "B/System",
                                      "B/Application", "A/System"}));
}

// Given a log first seen with records, they should count as seen. Given a
// log that was empty, cleared or wrapped past the cursor between two
// visits, the next visit should hand out every record that still exists
// after the cursor, or from the oldest one. A cursor next to the highest
// record number is a cursor like any other.
TEST_F(LogRotationTest, CursorOutsideTheLog) {
  const struct {
    const char* name;
    int before;    // records at the first visit
    int dropped;   // oldest records dropped (wrap) after it
    bool cleared;  // log cleared after it
    int added;     // records written afterwards
    std::vector<std::uint32_t> expected;
    std::uint32_t oldest = 0;  // number of the first record, when not 1
  } cases[] = {
      {"existing records count as seen", 100, 0, false, 2, {101, 102}},
      {"empty at first", 0, 0, false, 2, {1, 2}},
      {"cleared", 5, 0, true, 3, {1, 2, 3}},
      {"cleared, then as many as before", 3, 0, true, 4, {4}},
      {"wrapped past the cursor", 5, 9, false, 7, {10, 11, 12}},
      {"wrapped to the cursor", 5, 5, false, 2, {6, 7}},
      {"last record number", 2, 0, false, 1, {0xFFFFFFFF}, 0xFFFFFFFD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEventLog::Log& log = log_.At("a", "System");
    log = FakeEventLog::Log();
    log.oldest = c.oldest;
    Start(1, {"/M0", "a", "/SYS"});
    Fill("a", "System", c.before);
    EXPECT_TRUE(Visit().empty());
    if (c.cleared) log_.Clear("a", "System");
    Fill("a", "System", c.added);
    if (c.dropped > 0) log_.Drop("a", "System", c.dropped);
    NextEventResult end;
    EXPECT_EQ(Visit(&end), c.expected);
    EXPECT_EQ(end, NextEventResult::kCaughtUp);
  }
}

// Given a record larger than the first buffer, it should be read again at
// the size the service asks for and handed out.
TEST_F(LogRotationTest, LargeRecordReadTwice) {
  Start(1, {"/M0", "a", "/SYS"});
  log_.At("a", "System");
  Visit();
  EventFields big;
  big.data_bytes = 2000;
  log_.Append("a", "System", big);
  EXPECT_EQ(Visit(), std::vector<std::uint32_t>{1});
  ASSERT_EQ(log_.read_sizes.size(), 2u);
  EXPECT_EQ(log_.read_sizes[0], 512u);
  EXPECT_GT(log_.read_sizes[1], 2000u);
}

// Given failures at each step, the visit should end with Error, the cursor
// unchanged, and only a failed open should be reported.
TEST_F(LogRotationTest, Failures) {
  Start(2, {"/M0", "Nowhere", "/M1", "b", "/SYS"});
  Fill("b", "System", 1);
  NextEventResult end;
  Visit(&end);
  EXPECT_EQ(end, NextEventResult::kError);
  Visit();  // b: first visit, record 1 seen
  Fill("b", "System", 2);
  FakeEventLog::Log& b = log_.At("b", "System");
  for (bool FakeEventLog::Log::*fault :
       {&FakeEventLog::Log::fail_queries, &FakeEventLog::Log::fail_reads}) {
    b.*fault = true;
    Visit();  // Nowhere
    EXPECT_TRUE(Visit(&end).empty());
    EXPECT_EQ(end, NextEventResult::kError);
    EXPECT_EQ(*cursors_.Entry("System", 1), 1u);
    b.*fault = false;
  }
  Visit();  // Nowhere
  EXPECT_EQ(Visit(), (std::vector<std::uint32_t>{2, 3}));
  std::string reports;
  for (int i = 0; i < 4; ++i)
    reports += "Unable to open System log on Nowhere\n";
  EXPECT_EQ(console_.console, reports);
}

// Given a blackout that begins during a visit, the visit should end with
// Blackout, and the records left should be handed out after it.
TEST_F(LogRotationTest, BlackoutDuringAVisit) {
  Start(1, {"/M0", "a", "/SYS", "/B0", "1-2"});
  log_.At("a", "System");
  Visit();
  Fill("a", "System", 3);
  EventRecord record;
  char name[kLogNameSize];
  ASSERT_EQ(rotation_.NextEvent(&record, name), NextEventResult::kEvent);
  clock_.now = 3600;  // 01:00
  EXPECT_EQ(rotation_.NextEvent(&record, name), NextEventResult::kBlackout);
  EXPECT_EQ(log_.open_handles, 0);
  NextEventResult end;
  EXPECT_TRUE(Visit(&end).empty());
  EXPECT_EQ(end, NextEventResult::kBlackout);
  clock_.now = 7200;  // 02:00, the end hour is outside
  EXPECT_EQ(Visit(), (std::vector<std::uint32_t>{2, 3}));
}

}  // namespace
}  // namespace sentory
