#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/locked_file.h"

namespace sentory {
namespace {

// Given a real file, its stamp names it by device and inode (a log
// replaced by one on another file system shows), with its size.
TEST(LockedFilePosixTest, StampNamesTheFile) {
  char path[] = "/tmp/sentory-locked-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(3, write(fd, "abc", 3));
  close(fd);
  struct stat info = {};
  ASSERT_EQ(0, stat(path, &info));
  std::unique_ptr<LockedFile> file =
      MakeSystemFileAccess()->Open(path, FileAccess::Mode::kRead);
  unlink(path);
  ASSERT_NE(nullptr, file);
  FileStamp stamp, expected;
  ASSERT_TRUE(file->Stamp(&stamp));
  expected.device = static_cast<std::uint64_t>(info.st_dev);
  expected.inode = static_cast<std::uint64_t>(info.st_ino);
  expected.size = 3;
  expected.modified_ns =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
      info.st_mtim.tv_nsec;
  EXPECT_EQ(expected, stamp);
}

}  // namespace
}  // namespace sentory
