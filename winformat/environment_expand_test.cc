#include "winformat/environment_expand.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sentory {
namespace {

bool Lookup(std::string_view name, std::string* value) {
  if (name == "FOO") {
    *value = "foo";
  } else if (name == "EMPTY") {
    *value = "";
  } else {
    return false;
  }
  return true;
}

// Given the references Windows expands and those it keeps (measured with
// ExpandEnvironmentStringsA under Wine), the text and the size agree.
TEST(EnvironmentExpandTest, ReferencesAndSizes) {
  struct Case {
    const char* source;
    const char* expected;
  } cases[] = {
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
  for (const Case& c : cases) {
    char buffer[64];
    std::uint32_t size = ExpandEnvironment(c.source, Lookup, buffer, 64);
    EXPECT_STREQ(c.expected, buffer) << c.source;
    EXPECT_EQ(std::strlen(c.expected) + 1, size) << c.source;
  }
}

// Given a buffer too small, the size needed comes back and nothing is
// written past the buffer.
TEST(EnvironmentExpandTest, SmallBuffer) {
  char buffer[6] = "zzzzz";
  EXPECT_EQ(6u, ExpandEnvironment("a%FOO%b", Lookup, buffer, 4));
  EXPECT_STREQ("afo", buffer);
  EXPECT_EQ('z', buffer[4]);
  EXPECT_EQ(0u, ExpandEnvironment(nullptr, Lookup, buffer, 4));
}

}  // namespace
}  // namespace sentory
