#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace sentory {
namespace {

// Given the real registry, keys open in any case, a value comes with its
// type and size, and one too large for the buffer fails with
// ERROR_MORE_DATA and the size needed.
TEST(Win32RegistryTest, ReadsTheLocalRegistry) {
  std::unique_ptr<RegistryService> registry = MakeSystemRegistry();
  RegistryService::Key key = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry->OpenKey(
                registry->LocalRoot(RegistryService::Root::kLocalMachine),
                "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION", &key));
  char data[260] = {};
  std::uint32_t type = 0, size = sizeof data;
  ASSERT_EQ(kErrorSuccess, registry->QueryValueEx(
                               key, "SystemRoot", &type,
                               reinterpret_cast<unsigned char*>(data), &size));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(std::string(data).size() + 1, size);
  std::uint32_t small = 2;
  EXPECT_EQ(
      kErrorMoreData,
      registry->QueryValueEx(key, "SystemRoot", &type,
                             reinterpret_cast<unsigned char*>(data), &small));
  EXPECT_EQ(size, small);
  EXPECT_EQ(
      kErrorFileNotFound,
      registry->QueryValueEx(key, "NoSuchValue", &type,
                             reinterpret_cast<unsigned char*>(data), &size));
  RegistryService::Key missing = nullptr;
  EXPECT_EQ(kErrorFileNotFound, registry->OpenKey(key, "NoSuchKey", &missing));
  EXPECT_EQ(kErrorSuccess, registry->CloseKey(key));
}

}  // namespace
}  // namespace sentory
