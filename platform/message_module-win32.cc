// Message modules on Windows: the real loader and message formatter. Only
// Win32 and C++ standard library code may live here.

#include <windows.h>

// The interface names its methods after the calls, which windows.h makes
// macros.
#undef FormatMessage
#undef LoadLibraryEx

#include <array>
#include <string>

#include "platform/message_module.h"

namespace sentory {
namespace {

// The formatter reads as many arguments as the message uses inserts, up to
// %99, whatever the caller holds: the array it is given always has 99
// entries, those the caller lacks being the texts "%N" themselves, so a
// missing insert comes out as it is written.
using InsertArray = std::array<const char*, kMaxInserts>;

const std::array<std::string, kMaxInserts>& InsertTexts() {
  static const std::array<std::string, kMaxInserts> texts = [] {
    std::array<std::string, kMaxInserts> made;
    for (std::uint32_t i = 0; i < kMaxInserts; ++i) {
      made[i] = "%" + std::to_string(i + 1);
    }
    return made;
  }();
  return texts;
}

class Win32MessageModules : public MessageModules {
 public:
  Module LoadLibraryEx(const char* file_name) override {
    return ::LoadLibraryExA(file_name, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  }

  std::uint32_t FormatMessage(std::uint32_t flags, Module module,
                              std::uint32_t message_id,
                              std::uint32_t language_id, char** buffer,
                              const char* const* arguments,
                              std::uint32_t argument_count) override {
    InsertArray padded;
    for (std::uint32_t i = 0; i < kMaxInserts; ++i) {
      padded[i] = arguments != nullptr && i < argument_count
                      ? arguments[i]
                      : InsertTexts()[i].c_str();
    }
    return ::FormatMessageA(
        flags, module, message_id, language_id, reinterpret_cast<LPSTR>(buffer),
        0, reinterpret_cast<va_list*>(const_cast<char**>(padded.data())));
  }

  bool FreeLibrary(Module module) override {
    return ::FreeLibrary(static_cast<HMODULE>(module)) != 0;
  }

  void LocalFree(char* buffer) override { ::LocalFree(buffer); }
};

}  // namespace

std::unique_ptr<MessageModules> MakeSystemMessageModules() {
  return std::make_unique<Win32MessageModules>();
}

}  // namespace sentory
