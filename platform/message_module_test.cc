#include "platform/message_module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace sentory {
namespace {

#ifdef SENTORY_MESSAGE_FILES
constexpr const char* kMessageFiles = SENTORY_MESSAGE_FILES;
#else
constexpr const char* kMessageFiles = "";
#endif

// Given a test message file loaded by this platform's own backend (the real
// loader and FormatMessageA on Windows), messages that use more inserts
// than they are given leave the missing ones as written, and the same text
// comes out on every platform.
TEST(MessageModulesTest, MissingInsertsStayAsWritten) {
  std::string file = std::string(kMessageFiles) + "/rules64.dll";
  if (!std::ifstream(file))
    GTEST_SKIP() << "the test message files were not built";
  std::unique_ptr<MessageModules> modules = MakeSystemMessageModules();
  MessageModules::Module module = modules->LoadLibraryEx(file.c_str());
  ASSERT_NE(nullptr, module);
  const char* inserts[] = {"one", "two"};
  struct Case {
    std::uint32_t id;
    std::uint32_t count;
    const char* text;
  } cases[] = {
      {1, 2, "Inserts one, two and %3. "},
      {1, 0, "Inserts %1, %2 and %3. "},
      {8, 1, "Missing %3 and     %4 and %12, given one. "},
      {0xC0070002, 1, "Full identifier C0070002: one "},
  };
  for (const Case& c : cases) {
    char* text = nullptr;
    std::uint32_t length =
        modules->FormatMessage(kFormatMessageFlags, module, c.id, 0, &text,
                               c.count == 0 ? nullptr : inserts, c.count);
    ASSERT_NE(nullptr, text) << c.id;
    EXPECT_EQ(c.text, std::string(text, length));
    modules->LocalFree(text);
  }
  char* text = nullptr;
  EXPECT_EQ(0u, modules->FormatMessage(kFormatMessageFlags, module, 0x1234, 0,
                                       &text, inserts, 2));
  EXPECT_TRUE(modules->FreeLibrary(module));
  std::string missing = std::string(kMessageFiles) + "/none.dll";
  EXPECT_EQ(nullptr, modules->LoadLibraryEx(missing.c_str()));
}

}  // namespace
}  // namespace sentory
