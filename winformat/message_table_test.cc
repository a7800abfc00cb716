#include "winformat/message_table.h"

#include <gtest/gtest.h>

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

// Given the test message files, a message should be found only by its
// whole identifier, and a named language only as itself. (MessagePeerTest
// has Windows read every message of every file, 32- and 64-bit, ANSI and
// Unicode, in the language it picks, and compares.)
TEST_F(MessageTableTest, WholeIdentifiersAndNamedLanguages) {
  struct Case {
    const char* file;
    std::uint32_t id;
    std::uint16_t language;
    const char* text;  // nullptr: not in the file
  } cases[] = {
      {"rules64", 0xC0070002, 0, "Full identifier C0070002: %1\r\n"},
      {"rules64", 0x00070002, 0, nullptr},
      {"first_present64", 1, 0x040C, "Text in French\r\n"},
      {"first_present64", 1, 0x0411, nullptr},
  };
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(c.text != nullptr,
              FindMessage(ReadMessageFile(c.file), c.id, c.language, &text))
        << c.file << " " << c.id << " " << c.language;
    if (c.text != nullptr) {
      EXPECT_EQ(c.text, text) << c.file;
    }
  }
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
