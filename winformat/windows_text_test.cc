// The texts of Windows: command lines, environment references, message
// formatting and message tables.

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/message_files.h"
#include "winformat/command_line.h"
#include "winformat/environment_expand.h"
#include "winformat/message_format.h"
#include "winformat/message_table.h"

namespace sentory {
namespace {

// Given a command line, we should split it into the words a program built
// with the Windows C runtime receives.
TEST(CommandLineTest, SplitsByWindowsRules) {
  const struct {
    const char* line;
    std::vector<std::string> words;
  } kCases[] = {
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
  for (const auto& c : kCases) EXPECT_EQ(c.words, SplitCommandLine(c.line));
}

bool Lookup(std::string_view name, std::string* value) {
  if (name != "FOO" && name != "EMPTY") return false;
  *value = name == "FOO" ? "foo" : "";
  return true;
}

// Given the references Windows expands and those it keeps (measured with
// ExpandEnvironmentStringsA under Wine), the text and the size agree; a
// buffer too small gets the size needed and nothing written past it.
TEST(EnvironmentExpandTest, ReferencesAndSizes) {
  const char* const kCases[][2] = {
      {"a%FOO%b", "afoob"},
      {"%NOPE%x", "%NOPE%x"},
      {"%NOPE%FOO%", "%NOPE%FOO%"},
      {"%NOPE%%FOO%", "%NOPE%foo"},
      {"%%", "%%"},
      {"x%FOO", "x%FOO"},
      {"%EMPTY%y", "y"},
      {"%FOO%%FOO%", "foofoo"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    char buffer[64];
    EXPECT_EQ(std::strlen(c[1]) + 1,
              ExpandEnvironment(c[0], Lookup, buffer, 64))
        << c[0];
    EXPECT_STREQ(c[1], buffer) << c[0];
  }
  char buffer[6] = "zzzzz";
  EXPECT_EQ(6u, ExpandEnvironment("a%FOO%b", Lookup, buffer, 4));
  EXPECT_STREQ("afo", buffer);
  EXPECT_EQ('z', buffer[4]);
  EXPECT_EQ(0u, ExpandEnvironment(nullptr, Lookup, buffer, 4));
}

// Given the maximum-width mask, the text is what FormatMessageA gives.
// MessagePeerTest checks the rules against it on real message files, where
// every message ends with a line break; here are the cases a message file
// cannot hold, those nearest the edges, and the other widths: none keeps
// line breaks and %t as they are, the rest are not supported.
TEST(MessageFormatTest, RulesAndWidths) {
  const struct {
    const char* message;
    std::uint32_t width;
    std::vector<const char*> inserts;
    const char* expected;  // nullptr: the formatting fails
  } kCases[] = {
      {"%2%1", kMaxWidthMask, {"a", "b"}, "ba"},
      {"%10|%1x|%100",
       kMaxWidthMask,
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
       "10|1x|100"},
      {"[%1!!][%1!d!]", kMaxWidthMask, {"ab"}, "[][ab]"},
      {"line\r\nnext\nthird\rfourth\r\n",
       kMaxWidthMask,
       {},
       "line next third fourth "},
      {"ends in %", kMaxWidthMask, {}, nullptr},
      {"[%1!5s", kMaxWidthMask, {"a"}, nullptr},
      {"a\nb%tc", 0, {}, "a\r\nb\tc"},
      {"a", 80, {}, nullptr},
  };
  std::string out = "left from before";
  for (const auto& c : kCases) {
    bool ok =
        FormatMessageText(c.message, c.width, c.inserts.data(),
                          static_cast<std::uint32_t>(c.inserts.size()), &out);
    EXPECT_EQ(ok, c.expected != nullptr) << c.message;
    if (ok && c.expected != nullptr) {
      EXPECT_EQ(c.expected, out) << c.message;
    }
  }
}

// Given the test message files, a message should be found only by its
// whole identifier, and a named language only as itself; given every cut
// of a file, whole or not at all. (MessagePeerTest has Windows read every
// message of every file and compares.)
TEST(MessageTableTest, IdentifiersLanguagesAndCuts) {
  if (ReadMessageFile("rules64").empty()) GTEST_SKIP() << "no message files";
  const struct {
    const char* file;
    std::uint32_t id;
    std::uint16_t language;
    const char* text;  // nullptr: not in the file
  } kCases[] = {
      {"rules64", 0xC0070002, 0, "Full identifier C0070002: %1\r\n"},
      {"rules64", 0x00070002, 0, nullptr},
      {"first_present64", 1, 0x040C, "Text in French\r\n"},
      {"first_present64", 1, 0x0411, nullptr},
  };
  for (const auto& c : kCases) {
    std::string text;
    EXPECT_EQ(c.text != nullptr,
              FindMessage(ReadMessageFile(c.file), c.id, c.language, &text))
        << c.file << " " << c.id;
    if (c.text != nullptr) {
      EXPECT_EQ(c.text, text) << c.file;
    }
  }
  std::string image = ReadMessageFile("rules32"), whole;
  ASSERT_TRUE(FindMessage(image, 9, 0, &whole));
  for (std::size_t size = 0; size < image.size(); ++size) {
    std::string text;
    if (FindMessage(image.substr(0, size), 9, 0, &text)) {
      EXPECT_EQ(whole, text) << size;
    }
  }
  EXPECT_FALSE(IsPeImage("MZ not a program"));
}

}  // namespace
}  // namespace sentory
