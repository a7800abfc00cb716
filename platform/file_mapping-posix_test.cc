#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

// Given a file mapped, read and closed, its bytes come whole and no
// descriptor is left open, so a monitor mapping its skip file at each
// start does not run out of them.
TEST(FileMappingPosixTest, MapsWholeAndClosesTheFile) {
  char path[] = "/tmp/sentory-mapping-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path, std::ios::binary) << "17 Tape\r\n";
  auto open_files = [] {
    auto folder = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(folder), end(folder));
  };
  const auto before = open_files();
  auto files = MakeSystemFileMapper();
  FileMapper::Handle file = files->OpenFile(path);
  ASSERT_NE(nullptr, file);
  FileMapper::Handle mapping = files->CreateFileMapping(file);
  ASSERT_NE(nullptr, mapping);
  std::size_t size = 0;
  const char* view = files->MapViewOfFile(mapping, &size);
  ASSERT_NE(nullptr, view);
  EXPECT_EQ("17 Tape\r\n", std::string(view, size));
  files->UnmapViewOfFile(view);
  files->CloseHandle(mapping);
  files->CloseHandle(file);
  EXPECT_EQ(before, open_files());
  unlink(path);
}

}  // namespace
}  // namespace sentory
