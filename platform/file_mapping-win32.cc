// Read-only file views on Windows. Only Win32 and C++ standard library code
// may live here.

#include <windows.h>

#include <cstdint>
#include <map>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

// Each mapping is made without a name, so two processes never share one,
// and at the size the file had when it was made; its view is mapped at
// that size, so the length handed back is always the view's own.
class Win32FileMapper : public FileMapper {
 public:
  Handle OpenFile(const char* path) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }

  Handle CreateFileMapping(Handle file) override {
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file, &length) || length.QuadPart <= 0 ||
        static_cast<unsigned long long>(length.QuadPart) >
            static_cast<unsigned long long>(SIZE_MAX)) {
      return nullptr;
    }
    ULARGE_INTEGER size = {};
    size.QuadPart = static_cast<unsigned long long>(length.QuadPart);
    HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY,
                                          size.HighPart, size.LowPart, nullptr);
    if (mapping == nullptr) return nullptr;
    sizes_[mapping] = static_cast<std::size_t>(size.QuadPart);
    return mapping;
  }

  const char* MapViewOfFile(Handle mapping, std::size_t* size) override {
    auto it = sizes_.find(mapping);
    if (it == sizes_.end()) return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, it->second);
    if (view == nullptr) return nullptr;
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(view, &region, sizeof(region)) == 0 ||
        region.RegionSize < it->second) {
      ::UnmapViewOfFile(view);
      return nullptr;
    }
    *size = it->second;
    return static_cast<const char*>(view);
  }

  void UnmapViewOfFile(const char* view) override { ::UnmapViewOfFile(view); }

  void CloseHandle(Handle handle) override {
    sizes_.erase(handle);
    ::CloseHandle(handle);
  }

 private:
  std::map<Handle, std::size_t> sizes_;  // each open mapping's size
};

}  // namespace

std::unique_ptr<FileMapper> MakeSystemFileMapper() {
  return std::make_unique<Win32FileMapper>();
}

}  // namespace sentory
