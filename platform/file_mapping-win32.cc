// Read-only file views on Windows. Only Win32 and C++ standard library code
// may live here.

#include <windows.h>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

class Win32FileMapper : public FileMapper {
 public:
  Handle OpenFile(const char* path) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }

  Handle CreateFileMapping(Handle file) override {
    file_ = file;
    return ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0,
                                "EventSkipList");
  }

  const char* MapViewOfFile(Handle mapping, std::size_t* size) override {
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file_, &length)) return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) return nullptr;
    *size = static_cast<std::size_t>(length.QuadPart);
    return static_cast<const char*>(view);
  }

  void UnmapViewOfFile(const char* view) override { ::UnmapViewOfFile(view); }

  void CloseHandle(Handle handle) override { ::CloseHandle(handle); }

 private:
  HANDLE file_ = nullptr;  // the file of the last mapping, for its size
};

}  // namespace

std::unique_ptr<FileMapper> MakeSystemFileMapper() {
  return std::make_unique<Win32FileMapper>();
}

}  // namespace sentory
