#include "eventlog/event_filter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/fake_services.h"

namespace sentory {
namespace {

struct SkipCase {
  const char* text;
  std::uint32_t event_id;
  const char* source;
  bool skipped;
};

// Given each skip text, a record should be skipped only by an entry with its
// whole ID and its whole source name.
TEST(EventFilterTest, SkipTextMatching) {
  const SkipCase cases[] = {
      {"17 Tape", 17, "Tape", true},
      {"17 Tape", 17, "tape", false},
      {"17 Tape", 7, "Tape", false},
      {"17 TapeDrive", 17, "Tape", false},
      {"17 Tap", 17, "Tape", false},
      {"17\r\n  Tape\r\n", 17, "Tape", false},
      {"17 Tape\r\n99 Disk\r\n", 17, "Tape", true},
      {"17 Tape \t\r\n", 17, "Tape", true},
      {"  17\tTape", 17, "Tape", true},
      {"111 Tape", 1, "Tape", false},
      {"111 Tape", 111, "Tape", true},
      {"17 Disk\n17 Tape", 17, "Tape", true},
      {"x17 Tape", 17, "Tape", false},
      {"17", 17, "Tape", false},
      {"17 Service Control Manager\n", 17, "Service Control Manager", true},
      {"17 Service  Control Manager", 17, "Service Control Manager", false},
      {"1000 Application Error", 1000, "Application", false},
      {"1000 Application Error", 1000, "Application Error", true},
      {"1000 Application\n", 1000, "Application Error", false},
      {"Tape 17 Disk", 17, "Disk", false},
      {"\xEF\xBB\xBF"
       "17 Tape\r\n",
       17, "Tape", true},
      {"65553 Tape", 17, "Tape", false},
      {"17 Tape", 17 + 0x10000, "Tape", true},
      {"17 ", 17, "", false},
      {"", 17, "Tape", false},
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.event_id) +
                 " " + c.source);
    EventFields fields;
    fields.event_id = c.event_id;
    fields.source = c.source;
    fields.type = 1;
    EventRecord record = MakeEventRecord(fields);
    SeveritySlots slots;
    slots.slot[0] = 1;
    SkipList skip_list(c.text);
    EXPECT_EQ(PassesFilter(record, slots, &skip_list), !c.skipped);
  }
}

// Given each "/S" value, the records of each type should pass as the slots
// say, type 0 passing while any slot is unfilled.
TEST(EventFilterTest, Severities) {
  struct Case {
    const char* letters;
    std::vector<std::uint16_t> passing;
  };
  const Case cases[] = {
      {"EW", {0, 1, 2}},
      {"ewisf", {1, 2, 4, 8, 16}},
      {"EE", {0, 1}},
      {"EWISFW", {1, 2, 4, 8, 16}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letters);
    SeveritySlots slots;
    ParseSeverities(c.letters, &slots);
    for (std::uint16_t type : {0, 1, 2, 3, 4, 8, 16, 32}) {
      EventFields fields;
      fields.type = type;
      EventRecord record = MakeEventRecord(fields);
      bool expected = std::find(c.passing.begin(), c.passing.end(), type) !=
                      c.passing.end();
      EXPECT_EQ(PassesFilter(record, slots, nullptr), expected) << type;
    }
  }
}

// Given a skip file, its text should be read up to its first NUL byte; given
// each failing step, the matching line should be written, and every handle
// and view should be given back.
TEST(EventFilterTest, LoadSkipText) {
  struct Case {
    const char* name;
    bool exists;
    std::string content;
    bool fail_mapping;
    bool fail_view;
    const char* line;  // nullptr: loaded
  };
  const Case cases[] = {
      {"loaded", true, std::string("17 Tape\n\0 99 Disk", 17), false, false,
       nullptr},
      {"missing", false, "", false, false,
       "Could not open create file skip.txt"},
      {"empty", true, "", false, false,
       "Could not create file-mapping object for skip.txt"},
      {"mapping refused", true, "1 a", true, false,
       "Could not create file-mapping object for skip.txt"},
      {"view refused", true, "1 a", false, true,
       "Could not map view of file skip.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFileMapper files;
    if (c.exists) files.files["skip.txt"] = c.content;
    files.fail_mapping = c.fail_mapping;
    files.fail_view = c.fail_view;
    FakeConsole console;
    OutputStream out(console);
    SkipList skip_list;
    EXPECT_EQ(LoadSkipText(files, "skip.txt", out, &skip_list),
              c.line == nullptr);
    EXPECT_EQ(console.console, c.line ? std::string(c.line) + "\n" : "");
    if (c.line == nullptr) {
      EXPECT_EQ(skip_list.text(), "17 Tape\n");
    }
    EXPECT_EQ(files.handles, 0);
    EXPECT_EQ(files.views, 0);
  }
}

}  // namespace
}  // namespace sentory
