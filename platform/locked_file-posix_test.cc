#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_mapping.h"
#include "platform/locked_file.h"

namespace sentory {
namespace {

// A real file holding "17 Tape\r\n", opened and mapped the ways the
// monitor opens its logs and maps its skip file.
class FilesPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fd = mkstemp(path_);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(9, write(fd, "17 Tape\r\n", 9));
    close(fd);
  }
  void TearDown() override { unlink(path_); }

  char path_[32] = "/tmp/sentory-files-XXXXXX";
};

// Given a real file, its stamp names it by device and inode (a log
// replaced by one on another file system shows), with its size and time.
TEST_F(FilesPosixTest, StampNamesTheFile) {
  struct stat info = {};
  ASSERT_EQ(0, stat(path_, &info));
  std::unique_ptr<LockedFile> file =
      MakeSystemFileAccess()->Open(path_, FileAccess::Mode::kRead);
  ASSERT_NE(nullptr, file);
  FileStamp stamp, expected;
  ASSERT_TRUE(file->Stamp(&stamp));
  expected.device = static_cast<std::uint64_t>(info.st_dev);
  expected.inode = static_cast<std::uint64_t>(info.st_ino);
  expected.size = 9;
  expected.modified_ns =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
      info.st_mtim.tv_nsec;
  EXPECT_EQ(expected, stamp);
}

// Given a file mapped, read and closed, its bytes come whole and no
// descriptor is left open, so a monitor mapping its skip file at each
// start does not run out of them.
TEST_F(FilesPosixTest, MappingClosesTheFile) {
  auto open_files = [] {
    auto folder = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(folder), end(folder));
  };
  const auto before = open_files();
  auto files = MakeSystemFileMapper();
  FileMapper::Handle file = files->OpenFile(path_);
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
}

}  // namespace
}  // namespace sentory
