#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/message_files.h"
#include "winformat/command_line.h"
#include "winformat/environment_expand.h"
#include "winformat/message_format.h"
#include "winformat/message_table.h"

namespace sentory {
namespace {

// The words the Windows C runtime gives a program, each ended by '|'.
TEST(CommandLineTest, SplitsByWindowsRules) {
  const char* const kCases[][2] = {
      {"", ""},
      {" \t ", ""},
      {"a.exe b c", "a.exe|b|c|"},
      {"  a.exe\tb  \t", "a.exe|b|"},
      {"\"C:\\My Dir\\a.exe\" x", "C:\\My Dir\\a.exe|x|"},
      {"C:\\dir\\ x\\", "C:\\dir\\|x\\|"},
      {"a \"b c\" d", "a|b c|d|"},
      {"a \"\" b", "a||b|"},
      {"a x\"y z\"w", "a|xy zw|"},
      {"a \"b c", "a|b c|"},
      {"a \\\"b", "a|\"b|"},
      {"a \\\\\"b c\"", "a|\\b c|"},
      {"a \\\\\\\"b", "a|\\\"b|"},
      {"a b\\c\\\\ d", "a|b\\c\\\\|d|"},
      {"a \"b\\\\\" c", "a|b\\|c|"},
      {"a \"b\"\"c\"", "a|b\"c|"},
      {"a \"x' & | y\"", "a|x' & | y|"}};
  for (const auto& c : kCases) {
    std::string words;
    for (const std::string& word : SplitCommandLine(c[0])) words += word + "|";
    EXPECT_EQ(c[1], words) << c[0];
  }
}

bool Lookup(std::string_view name, std::string* value) {
  if (name != "FOO" && name != "EMPTY") return false;
  *value = name == "FOO" ? "foo" : "";
  return true;
}

// As ExpandEnvironmentStringsA under Wine; a small buffer gets the size.
TEST(EnvironmentExpandTest, ReferencesAndSizes) {
  const char* const kCases[][2] = {{"a%FOO%b", "afoob"},
                                   {"%NOPE%x", "%NOPE%x"},
                                   {"%NOPE%FOO%", "%NOPE%FOO%"},
                                   {"%NOPE%%FOO%", "%NOPE%foo"},
                                   {"%%", "%%"},
                                   {"x%FOO", "x%FOO"},
                                   {"%EMPTY%y", "y"},
                                   {"%FOO%%FOO%", "foofoo"},
                                   {"", ""}};
  char buffer[64];
  for (const auto& c : kCases) {
    EXPECT_EQ(std::strlen(c[1]) + 1,
              ExpandEnvironment(c[0], Lookup, buffer, 64))
        << c[0];
    EXPECT_STREQ(c[1], buffer) << c[0];
  }
  std::strcpy(buffer, "zzzzz");
  EXPECT_EQ(6u, ExpandEnvironment("a%FOO%b", Lookup, buffer, 4));
  EXPECT_STREQ("afo", buffer);
  EXPECT_EQ('z', buffer[4]);
  EXPECT_EQ(0u, ExpandEnvironment(nullptr, Lookup, buffer, 4));
}

// Cases message files (MessagePeerTest) cannot hold; width 0 keeps breaks.
TEST(MessageFormatTest, RulesAndWidths) {
  const char* const kTen[] = {"1", "2", "3", "4", "5",
                              "6", "7", "8", "9", "10"};
  const struct {
    const char* message;
    std::uint32_t width, inserts;
    const char* expected;  // nullptr: the formatting fails
  } kCases[] = {{"%2%1", kMaxWidthMask, 2, "21"},
                {"%10|%1x|%100", kMaxWidthMask, 10, "10|1x|100"},
                {"[%1!!][%1!d!]", kMaxWidthMask, 1, "[][1]"},
                {"l\r\nn\nt\rf\r\n", kMaxWidthMask, 0, "l n t f "},
                {"ends in %", kMaxWidthMask, 0, nullptr},
                {"[%1!5s", kMaxWidthMask, 1, nullptr},
                {"a\nb%tc", 0, 0, "a\r\nb\tc"},
                {"a", 80, 0, nullptr}};
  std::string out = "left from before";
  for (const auto& c : kCases) {
    bool ok = FormatMessageText(c.message, c.width, kTen, c.inserts, &out);
    EXPECT_EQ(ok ? out : "(fails)", c.expected ? c.expected : "(fails)")
        << c.message;
  }
}

// Whole identifiers, named languages; a cut file gives all or nothing.
TEST(MessageTableTest, IdentifiersLanguagesAndCuts) {
  if (ReadMessageFile("rules64").empty()) GTEST_SKIP() << "no message files";
  const struct {
    const char* file;
    std::uint32_t id;
    std::uint16_t language;
    const char* text;  // nullptr: not in the file
  } kCases[] = {{"rules64", 0xC0070002, 0, "Full identifier C0070002: %1\r\n"},
                {"rules64", 0x00070002, 0, nullptr},
                {"first_present64", 1, 0x040C, "Text in French\r\n"},
                {"first_present64", 1, 0x0411, nullptr}};
  for (const auto& c : kCases) {
    std::string text;
    bool found = FindMessage(ReadMessageFile(c.file), c.id, c.language, &text);
    EXPECT_EQ(found ? text : "(none)", c.text ? c.text : "(none)") << c.id;
  }
  std::string image = ReadMessageFile("rules32"), whole, text;
  ASSERT_TRUE(FindMessage(image, 9, 0, &whole));
  for (std::size_t size = 0; size < image.size(); ++size) {
    if (FindMessage(image.substr(0, size), 9, 0, &text)) {
      EXPECT_EQ(whole, text) << size;
    }
  }
  EXPECT_FALSE(IsPeImage("MZ not a program"));
}

}  // namespace
}  // namespace sentory
