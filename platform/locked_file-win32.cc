// Files with whole-file locks on Windows. Only Win32 and C++ standard
// library code may live here.

#include <windows.h>

#include "platform/locked_file.h"

namespace sentory {
namespace {

// The most bytes one ReadFile or WriteFile call is given.
constexpr std::size_t kMaxTransfer = 1u << 30;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

class Win32LockedFile : public LockedFile {
 public:
  explicit Win32LockedFile(HANDLE file) : file_(file) {}
  ~Win32LockedFile() override { CloseHandle(file_); }

  bool Size(std::uint64_t* size) override {
    LARGE_INTEGER value = {};
    if (!GetFileSizeEx(file_, &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }

  bool Stamp(FileStamp* stamp) override {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file_, &info)) return false;
    stamp->device = info.dwVolumeSerialNumber;
    stamp->inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 |
                   info.nFileIndexLow;
    stamp->size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 |
                  info.nFileSizeLow;
    std::uint64_t written =
        static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
        info.ftLastWriteTime.dwLowDateTime;
    // From 100 ns steps since 1601 to nanoseconds since 1970, as elsewhere.
    constexpr std::int64_t kFrom1601To1970 = 116444736000000000;
    stamp->modified_ns =
        (static_cast<std::int64_t>(written) - kFrom1601To1970) * 100;
    return true;
  }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    char* out = static_cast<char*>(buffer);
    while (size > 0) {
      OVERLAPPED at = At(offset);
      DWORD chunk =
          static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
      DWORD done = 0;
      if (!ReadFile(file_, out, chunk, &done, &at) || done == 0) return false;
      out += done;
      offset += done;
      size -= done;
    }
    return true;
  }

  bool WriteAt(std::uint64_t offset, const void* data,
               std::size_t size) override {
    const char* in = static_cast<const char*>(data);
    while (size > 0) {
      OVERLAPPED at = At(offset);
      DWORD chunk =
          static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
      DWORD done = 0;
      if (!WriteFile(file_, in, chunk, &done, &at) || done == 0) return false;
      in += done;
      offset += done;
      size -= done;
    }
    return true;
  }

  bool Resize(std::uint64_t size) override {
    LARGE_INTEGER to = {};
    to.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) &&
           SetEndOfFile(file_);
  }

  // The lock covers every offset, so a shared lock keeps writers of other
  // handles out and an exclusive one keeps everybody else out.
  bool Lock(bool exclusive) override {
    OVERLAPPED at = At(0);
    return LockFileEx(file_, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0,
                      MAXDWORD, MAXDWORD, &at) != 0;
  }

  void Unlock() override {
    OVERLAPPED at = At(0);
    UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &at);
  }

 private:
  HANDLE file_;
};

class Win32FileAccess : public FileAccess {
 public:
  std::unique_ptr<LockedFile> OpenFile(const std::string& path, Mode mode,
                                       bool* missing) override {
    DWORD access = GENERIC_READ;
    if (mode != Mode::kRead) access |= GENERIC_WRITE;
    HANDLE file = CreateFileA(
        path.c_str(), access,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        mode == Mode::kCreate ? OPEN_ALWAYS : OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    return std::make_unique<Win32LockedFile>(file);
  }
};

}  // namespace

std::unique_ptr<FileAccess> MakeSystemFileAccess() {
  return std::make_unique<Win32FileAccess>();
}

}  // namespace sentory
