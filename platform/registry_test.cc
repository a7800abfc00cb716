#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace sentory {
namespace {

// A variable named in another case expands to what the process sees;
// unknown and empty references stay.
TEST(RegistryServiceTest, ExpandsAsWindowsDoes) {
  const char* path = std::getenv("PATH");
  ASSERT_NE(nullptr, path);
  std::string expected = std::string(path) + "|%NO_SUCH_VARIABLE_X%|%%|%";
  std::string out(expected.size() + 1, 'z');
  EXPECT_EQ(expected.size() + 1,
            MakeSystemRegistry()->ExpandEnvironmentStrings(
                "%pAtH%|%NO_SUCH_VARIABLE_X%|%%|%", &out[0],
                static_cast<std::uint32_t>(out.size())));
  EXPECT_EQ(expected, out.c_str());
}

#ifdef _WIN32
// Keys open in any case, a value comes with its type and size, and one too
// large for the buffer fails with ERROR_MORE_DATA and the size needed.
TEST(Win32RegistryTest, ReadsTheLocalRegistry) {
  std::unique_ptr<RegistryService> registry = MakeSystemRegistry();
  RegistryService::Key key = nullptr, missing = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry->OpenKey(
                registry->LocalRoot(RegistryService::Root::kLocalMachine),
                "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", &key));
  unsigned char data[260] = {};
  std::uint32_t type = 0, size = sizeof data, small = 2;
  ASSERT_EQ(kErrorSuccess,
            registry->QueryValueEx(key, "SystemRoot", &type, data, &size));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(data)) + 1, size);
  EXPECT_EQ(kErrorMoreData,
            registry->QueryValueEx(key, "SystemRoot", &type, data, &small));
  EXPECT_EQ(size, small);
  EXPECT_EQ(kErrorFileNotFound,
            registry->QueryValueEx(key, "NoSuchValue", &type, data, &size));
  EXPECT_EQ(kErrorFileNotFound, registry->OpenKey(key, "NoSuchKey", &missing));
  EXPECT_EQ(kErrorSuccess, registry->CloseKey(key));
}
#endif

}  // namespace
}  // namespace sentory
