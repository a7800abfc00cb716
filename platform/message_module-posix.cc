// Message modules on POSIX systems: message files are read as PE files and
// their messages formatted by the portable formatter. Only POSIX and C++
// standard library code may live here.

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/drive_path.h"
#include "platform/message_format.h"
#include "platform/message_module.h"
#include "platform/message_table.h"

namespace sentory {
namespace {

// FORMAT_MESSAGE_ARGUMENT_ARRAY | FROM_HMODULE | ALLOCATE_BUFFER: the one
// way of formatting this stand-in knows, with any line width.
constexpr std::uint32_t kRequiredFlags = 0x2000 | 0x800 | 0x100;

class PosixMessageModules : public MessageModules {
 public:
  Module LoadLibraryEx(const char* file_name) override {
    std::string path = DrivePath(file_name);
    if (path.empty()) return nullptr;
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream content;
    content << in.rdbuf();
    auto image = std::make_unique<std::string>(content.str());
    if (in.bad() || !IsPeImage(*image)) return nullptr;
    Module module = image.get();
    loaded_[module] = std::move(image);
    return module;
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
    if (!FindMessage(*found->second, message_id,
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
  std::map<Module, std::unique_ptr<std::string>> loaded_;
};

}  // namespace

std::unique_ptr<MessageModules> MakeSystemMessageModules() {
  return std::make_unique<PosixMessageModules>();
}

}  // namespace sentory
