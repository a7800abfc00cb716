// Message modules on POSIX systems: message files are read as PE files and
// their messages formatted by the portable formatter. Only POSIX and C++
// standard library code may live here.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/drive_path.h"
#include "platform/locked_file.h"
#include "platform/message_module.h"
#include "winformat/message_format.h"
#include "winformat/message_table.h"
#include "winformat/site.h"

namespace sentory {
namespace {

// FORMAT_MESSAGE_ARGUMENT_ARRAY | FROM_HMODULE | ALLOCATE_BUFFER: the one
// way of formatting this stand-in knows, with any line width.
constexpr std::uint32_t kRequiredFlags = 0x2000 | 0x800 | 0x100;
constexpr std::size_t kReadChunkSize = 65536;

// What tells one state of a file from another: a file changed or replaced
// since differs in at least one of these, once its last change lies far
// enough in the past (settled) for its times to show a later one.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified = {};
  timespec changed = {};
  bool settled = false;

  explicit FileIdentity(const struct stat& info)
      : device(info.st_dev),
        inode(info.st_ino),
        size(info.st_size),
        modified(info.st_mtim),
        changed(info.st_ctim),
        settled(StampShowsLaterWrites(
            static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 +
            info.st_ctim.tv_nsec)) {}
  FileIdentity() = default;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

// The whole of file |path| and its identity as it was read; false when it
// cannot be read.
bool ReadFile(const std::string& path, std::string* bytes,
              FileIdentity* identity) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  bool read_all = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (read_all) {
    *identity = FileIdentity(info);
    bytes->clear();
    bytes->reserve(static_cast<std::size_t>(info.st_size));
    char chunk[kReadChunkSize];
    for (;;) {
      ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0) read_all = false;
      if (got <= 0) break;
      bytes->append(chunk, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return read_all;
}

class PosixMessageModules : public MessageModules {
 public:
  // A message file is read once and kept: while the file found for a name
  // is still there and unchanged (one look at it), a load takes the image
  // read before; a file changed is read again, and a name whose file is
  // gone is looked for afresh.
  Module LoadLibraryEx(const char* file_name) override {
    if (file_name == nullptr) return nullptr;
    std::string key = SiteRoot() + '\0' + file_name;
    auto cached = images_.find(key);
    struct stat info;
    if (cached != images_.end() &&
        stat(cached->second.path.c_str(), &info) == 0) {
      if (!(cached->second.identity.settled &&
            FileIdentity(info) == cached->second.identity) &&
          !Read(cached->second.path, &cached->second)) {
        images_.erase(cached);
        return nullptr;
      }
      return Open(cached->second.image);
    }
    if (cached != images_.end()) images_.erase(cached);
    Image image;
    image.path = DrivePath(file_name);
    if (image.path.empty() || !Read(image.path, &image)) return nullptr;
    return Open(images_.emplace(key, std::move(image)).first->second.image);
  }

  std::uint32_t FormatMessage(std::uint32_t flags, Module module,
                              std::uint32_t message_id,
                              std::uint32_t language_id, char** buffer,
                              const char* const* arguments,
                              std::uint32_t argument_count) override {
    auto found = loaded_.find(module);
    if ((flags & ~kMaxWidthMask) != kRequiredFlags || found == loaded_.end() ||
        buffer == nullptr || language_id > 0xFFFF) {
      return 0;
    }
    std::string message, text;
    if (!FindMessage(*found->second->image, message_id,
                     static_cast<std::uint16_t>(language_id), &message) ||
        !FormatMessageText(message, flags & kMaxWidthMask, arguments,
                           arguments == nullptr ? 0 : argument_count, &text) ||
        text.empty()) {
      return 0;
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) return 0;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *buffer = copy;
    return static_cast<std::uint32_t>(text.size());
  }

  bool FreeLibrary(Module module) override {
    return loaded_.erase(module) == 1;
  }

  void LocalFree(char* buffer) override { std::free(buffer); }

 private:
  // A message file as it was last read.
  struct Image {
    std::string path;
    FileIdentity identity;
    std::shared_ptr<const std::string> image;
  };
  // A loaded module: the image it was loaded from, kept while it is loaded
  // even if the file is read again meanwhile.
  struct Loaded {
    std::shared_ptr<const std::string> image;
  };

  // Reads |path| into |image|; false, leaving it as it was, when the file
  // cannot be read or is not a program.
  static bool Read(const std::string& path, Image* image) {
    auto bytes = std::make_shared<std::string>();
    FileIdentity identity;
    if (!ReadFile(path, bytes.get(), &identity) || !IsPeImage(*bytes)) {
      return false;
    }
    image->identity = identity;
    image->image = std::move(bytes);
    return true;
  }

  Module Open(std::shared_ptr<const std::string> image) {
    auto loaded = std::make_unique<Loaded>(Loaded{std::move(image)});
    Module module = loaded.get();
    loaded_[module] = std::move(loaded);
    return module;
  }

  std::map<std::string, Image> images_;
  std::map<Module, std::unique_ptr<Loaded>> loaded_;
};

}  // namespace

std::unique_ptr<MessageModules> MakeSystemMessageModules() {
  return std::make_unique<PosixMessageModules>();
}

}  // namespace sentory
