// Read-only file views on POSIX systems. Only POSIX and C++ standard library
// code may live here.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "platform/file_mapping.h"

namespace sentory {
namespace {

// A file or a mapping of one: both hold their own descriptor.
struct Object {
  int fd;
  std::size_t size;
};

class PosixFileMapper : public FileMapper {
 public:
  Handle OpenFile(const char* path) override {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info = {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      close(fd);
      return nullptr;
    }
    return new Object{fd, static_cast<std::size_t>(info.st_size)};
  }

  Handle CreateFileMapping(Handle file) override {
    Object* f = static_cast<Object*>(file);
    struct stat info = {};
    if (fstat(f->fd, &info) != 0 || info.st_size <= 0) return nullptr;
    int copy = dup(f->fd);
    if (copy < 0) return nullptr;
    return new Object{copy, static_cast<std::size_t>(info.st_size)};
  }

  const char* MapViewOfFile(Handle mapping, std::size_t* size) override {
    Object* m = static_cast<Object*>(mapping);
    void* address = mmap(nullptr, m->size, PROT_READ, MAP_PRIVATE, m->fd, 0);
    if (address == MAP_FAILED) return nullptr;
    const char* view = static_cast<const char*>(address);
    views_[view] = m->size;
    *size = m->size;
    return view;
  }

  void UnmapViewOfFile(const char* view) override {
    auto it = views_.find(view);
    if (it == views_.end()) return;
    munmap(const_cast<char*>(it->first), it->second);
    views_.erase(it);
  }

  void CloseHandle(Handle handle) override {
    Object* object = static_cast<Object*>(handle);
    if (object == nullptr) return;
    close(object->fd);
    delete object;
  }

 private:
  std::map<const char*, std::size_t> views_;
};

}  // namespace

std::unique_ptr<FileMapper> MakeSystemFileMapper() {
  return std::make_unique<PosixFileMapper>();
}

}  // namespace sentory
