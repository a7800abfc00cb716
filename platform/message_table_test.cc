#include "platform/message_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/message_files.h"

namespace sentory {
namespace {

class MessageTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ReadMessageFile("rules64").empty()) {
      GTEST_SKIP() << "the test message files were not built";
    }
  }
};

// Given the same messages in 32- and 64-bit files with ANSI and Unicode
// entries, each is found by its whole identifier with the same text.
TEST_F(MessageTableTest, WordSizesEncodingsAndIdentifiers) {
  struct Case {
    std::uint32_t id;
    const char* text;  // nullptr: not in the file
  } cases[] = {
      {1, "Inserts %1, %2 and %3.\r\n"},
      {0xC0070002, "Full identifier C0070002: %1\r\n"},
      {2, "Two digits %10 %11 %99 and %100 and %1x.\r\n"},
      {0x8FFFFFFF, "Identifier AFFFFFFF\r\n"},
      {9, "Caf\xE9 \x80 %1 <%2>\r\n"},
      {0x00070002, nullptr},
      {0x1234, nullptr},
  };
  for (const char* name :
       {"rules64", "rules32", "rules_ansi64", "rules_ansi32"}) {
    std::string image = ReadMessageFile(name);
    ASSERT_TRUE(IsPeImage(image)) << name;
    for (const Case& c : cases) {
      std::string text;
      bool found = FindMessage(image, c.id, 0, &text);
      EXPECT_EQ(c.text != nullptr, found) << name << " " << c.id;
      if (found && c.text != nullptr) {
        EXPECT_EQ(c.text, text) << name;
      }
    }
  }
}

// Given files in several languages, language 0 takes neutral, then English
// (United States), then the first present; a named language is itself.
TEST_F(MessageTableTest, LanguageSearchOrder) {
  struct Case {
    const char* file;
    std::uint16_t language;
    const char* text;
  } cases[] = {
      {"neutral_first64", 0, "Text in Neutral\r\n"},
      {"neutral_first32", 0, "Text in Neutral\r\n"},
      {"english_second64", 0, "Text in English\r\n"},
      {"first_present64", 0, "Text in German\r\n"},
      {"first_present64", 0x040C, "Text in French\r\n"},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_TRUE(FindMessage(ReadMessageFile(c.file), 1, c.language, &text));
    EXPECT_EQ(c.text, text) << c.file;
  }
  std::string text;
  EXPECT_FALSE(
      FindMessage(ReadMessageFile("first_present64"), 1, 0x0411, &text));
}

// Given every cut of a file, the reader finds the message whole or not at
// all, and reads nothing beyond the cut.
TEST_F(MessageTableTest, TruncatedFiles) {
  std::string image = ReadMessageFile("rules32");
  std::string whole;
  ASSERT_TRUE(FindMessage(image, 9, 0, &whole));
  for (std::size_t size = 0; size < image.size(); ++size) {
    std::string cut = image.substr(0, size);
    std::string text;
    if (FindMessage(cut, 9, 0, &text)) {
      EXPECT_EQ(whole, text) << size;
    }
  }
  EXPECT_FALSE(IsPeImage("MZ not a program"));
}

}  // namespace
}  // namespace sentory
