#include "winformat/message_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sentory {
namespace {

struct Case {
  const char* message;
  std::vector<const char*> inserts;
  const char* expected;  // nullptr: the formatting fails
};

// Given the maximum-width mask, the text is what FormatMessageA gives.
// MessagePeerTest checks the formatter's rules against it on real message
// files (inserts, widths and precisions, %n %r %t %0, escapes, missing
// inserts), where every message ends with a line break; here are the cases
// a message file cannot hold, and those nearest the edges.
TEST(MessageFormatTest, RulesWithTheWidthMask) {
  const Case cases[] = {
      {"%2%1", {"a", "b"}, "ba"},
      {"%10|%1x|%100",
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
       "10|1x|100"},
      {"[%1!!][%1!d!]", {"ab"}, "[][ab]"},
      {"line\r\nnext\nthird\rfourth\r\n", {}, "line next third fourth "},
      {"ends in %", {}, nullptr},
      {"[%1!5s", {"a"}, nullptr},
  };
  for (const Case& c : cases) {
    std::string out;
    bool ok =
        FormatMessageText(c.message, kMaxWidthMask, c.inserts.data(),
                          static_cast<std::uint32_t>(c.inserts.size()), &out);
    if (c.expected == nullptr) {
      EXPECT_FALSE(ok) << c.message;
    } else {
      EXPECT_TRUE(ok) << c.message;
      EXPECT_EQ(c.expected, out) << c.message;
    }
  }
}

// Given no width mask, line breaks and %t keep their own characters; other
// widths are not supported.
TEST(MessageFormatTest, OtherWidths) {
  std::string out;
  ASSERT_TRUE(FormatMessageText("a\nb%tc", 0, nullptr, 0, &out));
  EXPECT_EQ("a\r\nb\tc", out);
  EXPECT_FALSE(FormatMessageText("a", 80, nullptr, 0, &out));
}

}  // namespace
}  // namespace sentory
