#include "app/option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace sentory {
namespace {

// "absent", "key" (present without a value) or "=value".
std::string Describe(const OptionTable& table, const char* key) {
  const char* value = table.OptionValue(key);
  if (!table.HasOption(key)) return value ? "absent with a value" : "absent";
  return value ? std::string("=") + value : "key";
}

struct TableCase {
  const char* name;
  std::vector<const char*> words;  // without the program name
  std::vector<std::pair<const char*, const char*>> lookups;
};

// Given each command line, the table should answer each lookup as listed.
TEST(OptionTableTest, ParsesCommandLines) {
  const TableCase cases[] = {
      {"empty", {}, {{"/M0", "absent"}, {"/", "absent"}}},
      {"keys uppercased, no values",
       {"/app", "/Sys"},
       {{"/APP", "key"}, {"/SYS", "key"}, {"/app", "absent"}}},
      {"order does not matter, values keep their case",
       {"/m1", "host-b", "/M0", "host-a"},
       {{"/M1", "=host-b"}, {"/M0", "=host-a"}}},
      {"last word is a key", {"/L"}, {{"/L", "key"}}},
      {"slash word is never a value",
       {"/P0", "/P1", "1234"},
       {{"/P0", "key"}, {"/P1", "=1234"}}},
      {"only the next word is a value",
       {"/R", "prog", "extra"},
       {{"/R", "=prog"}, {"EXTRA", "absent"}}},
      {"stray first word ignored",
       {"stray", "/SEC"},
       {{"/SEC", "key"}, {"STRAY", "absent"}}},
      {"repeat clears the value", {"/M0", "alpha", "/m0"}, {{"/M0", "key"}}},
      {"repeat replaces the value",
       {"/M0", "alpha", "/M0", "beta"},
       {{"/M0", "=beta"}}},
      {"empty word is a value", {"/PH", ""}, {{"/PH", "="}}},
      {"only a-z are uppercased", {"/\xe9x\xc4-9"}, {{"/\xe9X\xc4-9", "key"}}},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv = {"sentory"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    OptionTable table;
    table.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    for (const auto& [key, expected] : c.lookups) {
      EXPECT_EQ(Describe(table, key), expected) << key;
    }
  }
  EXPECT_EQ(OptionTable::NumberedKey("/M", 31), "/M31");
}

}  // namespace
}  // namespace sentory
