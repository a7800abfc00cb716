#include "eventlog/event_filter.h"

#include <gtest/gtest.h>

#include "tests/support/fake_services.h"

namespace sentory {
namespace {

EventRecord Record(std::uint16_t type, std::uint32_t id = 0,
                   const char* source = "") {
  return MakeEventRecord({1, 0, id, type, source, "SERVER1", {}});
}

// Skipped only by an entry with the record's whole ID and whole source name.
TEST(EventFilterTest, SkipTextMatching) {
  const struct {
    const char* text;
    std::uint32_t event_id;
    const char* source;
    bool skipped;
  } cases[] = {
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
  for (const auto& c : cases) {
    SeveritySlots slots;
    slots.slot[0] = 1;
    SkipList skip_list(c.text);
    EXPECT_EQ(PassesFilter(Record(1, c.event_id, c.source), slots, &skip_list),
              !c.skipped)
        << c.text << " / " << c.event_id << " " << c.source;
  }
}

// The text up to the first NUL byte, or the line of the failing step; every
// handle and view given back.
TEST(EventFilterTest, LoadSkipText) {
  const std::string kMapping = "Could not create file-mapping object for ";
  const struct {
    bool exists;
    std::string content;
    bool fail_mapping, fail_view;
    std::string line;  // "": loaded
  } cases[] = {
      {true, std::string("17 Tape\n\0 99 Disk", 17), false, false, ""},
      {false, "", false, false, "Could not open create file skip.txt"},
      {true, "", false, false, kMapping + "skip.txt"},
      {true, "1 a", true, false, kMapping + "skip.txt"},
      {true, "1 a", false, true, "Could not map view of file skip.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    FakeFileMapper files;
    if (c.exists) files.files["skip.txt"] = c.content;
    files.fail_mapping = c.fail_mapping;
    files.fail_view = c.fail_view;
    FakeConsole console;
    OutputStream out(console);
    SkipList skip_list;
    EXPECT_EQ(LoadSkipText(files, "skip.txt", out, &skip_list), c.line.empty());
    EXPECT_EQ(console.console, c.line.empty() ? "" : c.line + "\n");
    if (c.line.empty()) {
      EXPECT_EQ(skip_list.text(), "17 Tape\n");
    }
    EXPECT_EQ(files.handles + files.views, 0);
  }
}

}  // namespace
}  // namespace sentory
