#include "winformat/command_line.h"

#include <gtest/gtest.h>

namespace sentory {
namespace {

// Given a command line, we should split it into the words a program built
// with the Windows C runtime receives.
TEST(CommandLineTest, SplitsByWindowsRules) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"a.exe b c", {"a.exe", "b", "c"}},
      {"  a.exe\tb  \t", {"a.exe", "b"}},
      {"\"C:\\My Dir\\a.exe\" x", {"C:\\My Dir\\a.exe", "x"}},
      {"C:\\dir\\ x\\", {"C:\\dir\\", "x\\"}},
      {"a \"b c\" d", {"a", "b c", "d"}},
      {"a \"\" b", {"a", "", "b"}},
      {"a x\"y z\"w", {"a", "xy zw"}},
      {"a \"b c", {"a", "b c"}},
      {"a \\\"b", {"a", "\"b"}},
      {"a \\\\\"b c\"", {"a", "\\b c"}},
      {"a \\\\\\\"b", {"a", "\\\"b"}},
      {"a b\\c\\\\ d", {"a", "b\\c\\\\", "d"}},
      {"a \"b\\\\\" c", {"a", "b\\", "c"}},
      {"a \"b\"\"c\"", {"a", "b\"c"}},
      {"a \"x' & | y\"", {"a", "x' & | y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.words, SplitCommandLine(c.line));
  }
}

}  // namespace
}  // namespace sentory
