#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sentory {
namespace {

// Given this platform's own expansion (the real one on Windows), a
// variable named in another case expands to what the process sees, and
// unknown and empty references stay.
TEST(RegistryServiceTest, ExpandsAsWindowsDoes) {
  const char* path = std::getenv("PATH");
  ASSERT_NE(nullptr, path);
  std::string expected = std::string(path) + "|%NO_SUCH_VARIABLE_X%|%%|%";
  std::unique_ptr<RegistryService> registry = MakeSystemRegistry();
  std::string out(expected.size() + 1, 'z');
  EXPECT_EQ(expected.size() + 1,
            registry->ExpandEnvironmentStrings(
                "%pAtH%|%NO_SUCH_VARIABLE_X%|%%|%", &out[0],
                static_cast<std::uint32_t>(out.size())));
  EXPECT_EQ(expected, out.c_str());
}

}  // namespace
}  // namespace sentory
