// Files with whole-file locks on POSIX systems. Only POSIX and C++ standard
// library code may live here.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/locked_file.h"

namespace sentory {
namespace {

class PosixLockedFile : public LockedFile {
 public:
  explicit PosixLockedFile(int fd) : fd_(fd) {}
  ~PosixLockedFile() override { close(fd_); }

  bool Size(std::uint64_t* size) override {
    struct stat st = {};
    if (fstat(fd_, &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Stamp(FileStamp* stamp) override {
    struct stat st = {};
    if (fstat(fd_, &st) != 0) return false;
    stamp->device = static_cast<std::uint64_t>(st.st_dev);
    stamp->inode = static_cast<std::uint64_t>(st.st_ino);
    stamp->size = static_cast<std::uint64_t>(st.st_size);
    stamp->modified_ns =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
        st.st_mtim.tv_nsec;
    return true;
  }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    char* out = static_cast<char*>(buffer);
    while (size > 0) {
      ssize_t n = pread(fd_, out, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool WriteAt(std::uint64_t offset, const void* data,
               std::size_t size) override {
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = pwrite(fd_, in, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      in += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool Resize(std::uint64_t size) override {
    return ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

  // flock locks belong to the open file, so two handles in one process
  // exclude each other as two processes do.
  bool Lock(bool exclusive) override {
    while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  void Unlock() override { flock(fd_, LOCK_UN); }

 private:
  int fd_;
};

class PosixFileAccess : public FileAccess {
 public:
  std::unique_ptr<LockedFile> OpenFile(const std::string& path, Mode mode,
                                       bool* missing) override {
    int flags = O_CLOEXEC;
    if (mode == Mode::kRead) {
      flags |= O_RDONLY;
    } else {
      flags |= O_RDWR;
      if (mode == Mode::kCreate) flags |= O_CREAT;
    }
    int fd;
    do {
      fd = open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *missing = errno == ENOENT;
      return nullptr;
    }
    return std::make_unique<PosixLockedFile>(fd);
  }
};

}  // namespace

std::unique_ptr<FileAccess> MakeSystemFileAccess() {
  return std::make_unique<PosixFileAccess>();
}

}  // namespace sentory
