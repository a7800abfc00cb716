#include "app/option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sentory {
namespace {

struct Lookup {
  const char* key;
  bool present;
  const char* value;  // nullptr: none
};

struct TableCase {
  const char* name;
  std::vector<const char*> words;  // without the program name
  std::vector<Lookup> lookups;
};

// Given each command line, the table should answer each lookup as listed.
TEST(OptionTableTest, ParsesCommandLines) {
  const TableCase cases[] = {
      {"empty", {}, {{"/M0", false, nullptr}, {"/", false, nullptr}}},
      {"keys uppercased, no values",
       {"/app", "/Sys"},
       {{"/APP", true, nullptr},
        {"/SYS", true, nullptr},
        {"/app", false, nullptr}}},
      {"order does not matter",
       {"/m1", "host-b", "/M0", "host-a"},
       {{"/M1", true, "host-b"}, {"/M0", true, "host-a"}}},
      {"last word is a key", {"/L"}, {{"/L", true, nullptr}}},
      {"slash word is never a value",
       {"/P0", "/P1", "1234"},
       {{"/P0", true, nullptr}, {"/P1", true, "1234"}}},
      {"path after /L becomes a key",
       {"/L", "/logs/a.txt"},
       {{"/L", true, nullptr}, {"/LOGS/A.TXT", true, nullptr}}},
      {"values keep their case", {"/S", "ew"}, {{"/S", true, "ew"}}},
      {"only the next word is a value",
       {"/R", "prog", "extra"},
       {{"/R", true, "prog"}, {"EXTRA", false, nullptr}}},
      {"stray first word ignored",
       {"stray", "/SEC"},
       {{"/SEC", true, nullptr}, {"STRAY", false, nullptr}}},
      {"repeat clears the value",
       {"/M0", "alpha", "/m0"},
       {{"/M0", true, nullptr}}},
      {"repeat replaces the value",
       {"/M0", "alpha", "/M0", "beta"},
       {{"/M0", true, "beta"}}},
      {"empty word is a value", {"/PH", ""}, {{"/PH", true, ""}}},
      {"only a-z are uppercased",
       {"/\xe9x\xc4-9"},
       {{"/\xe9X\xc4-9", true, nullptr}}},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv = {"sentory"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    OptionTable table;
    table.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    for (const Lookup& l : c.lookups) {
      SCOPED_TRACE(l.key);
      EXPECT_EQ(table.HasOption(l.key), l.present);
      const char* value = table.OptionValue(l.key);
      if (l.value == nullptr) {
        EXPECT_EQ(value, nullptr);
      } else {
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, l.value);
      }
    }
  }
}

// Given a value, the table should hand back the command-line word itself.
TEST(OptionTableTest, ValueRefersToTheWord) {
  const char* argv[] = {"sentory", "/R", "prog"};
  OptionTable table;
  table.ParseCommandLine(3, argv);
  EXPECT_EQ(table.OptionValue("/R"), argv[2]);
  EXPECT_EQ(OptionTable::NumberedKey("/M", 31), "/M31");
}

}  // namespace
}  // namespace sentory
