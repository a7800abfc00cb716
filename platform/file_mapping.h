#ifndef SENTORY_PLATFORM_FILE_MAPPING_H_
#define SENTORY_PLATFORM_FILE_MAPPING_H_

#include <cstddef>
#include <memory>

namespace sentory {

/// Read-only views of whole files. Abstract so it can be faked in tests;
/// MakeSystemFileMapper() gives the real one.
class FileMapper {
 public:
  using Handle = void*;
  virtual ~FileMapper() = default;
  /// CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING):
  /// nullptr on failure.
  virtual Handle OpenFile(const char* path) = 0;
  /// CreateFileMappingA(file, PAGE_READONLY, the file's size now, no name):
  /// nullptr on failure; an empty file cannot be mapped. The mapping is this
  /// process's own, whatever other processes map.
  virtual Handle CreateFileMapping(Handle file) = 0;
  /// MapViewOfFile(mapping, FILE_MAP_READ, whole mapping): the view and, in
  /// *size, the view's length in bytes (never more than was mapped);
  /// nullptr on failure.
  virtual const char* MapViewOfFile(Handle mapping, std::size_t* size) = 0;
  virtual void UnmapViewOfFile(const char* view) = 0;
  virtual void CloseHandle(Handle handle) = 0;
};

std::unique_ptr<FileMapper> MakeSystemFileMapper();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_FILE_MAPPING_H_
