#ifndef SENTORY_PLATFORM_MESSAGE_MODULE_H_
#define SENTORY_PLATFORM_MESSAGE_MODULE_H_

#include <cstdint>
#include <memory>

namespace sentory {

/// FORMAT_MESSAGE_ARGUMENT_ARRAY | FROM_HMODULE | ALLOCATE_BUFFER |
/// MAX_WIDTH_MASK.
constexpr std::uint32_t kFormatMessageFlags = 0x29FF;
/// The highest insert number a message can use (%1 to %99).
constexpr std::uint32_t kMaxInserts = 99;

/// Message files (modules holding a message table) and the message
/// formatter. Abstract so tests can use modules held in memory;
/// MakeSystemMessageModules() gives the machine's own.
class MessageModules {
 public:
  using Module = void*;

  virtual ~MessageModules() = default;
  /// LoadLibraryExA(name, nullptr, DONT_RESOLVE_DLL_REFERENCES): nullptr on
  /// failure.
  virtual Module LoadLibraryEx(const char* file_name) = 0;
  /// FormatMessageA(flags, module, message_id, language_id, (LPSTR)buffer, 0,
  /// arguments) with exactly |argument_count| insert texts: the length of the
  /// text it allocated into *buffer (release with LocalFree), 0 on failure.
  /// Inserts beyond |argument_count| are left as written (%3 stays %3);
  /// nothing beyond the array is read.
  virtual std::uint32_t FormatMessage(std::uint32_t flags, Module module,
                                      std::uint32_t message_id,
                                      std::uint32_t language_id, char** buffer,
                                      const char* const* arguments,
                                      std::uint32_t argument_count) = 0;
  /// FreeLibrary: false on failure.
  virtual bool FreeLibrary(Module module) = 0;
  /// LocalFree of a buffer that FormatMessage allocated.
  virtual void LocalFree(char* buffer) = 0;
};

/// The message modules of this machine.
std::unique_ptr<MessageModules> MakeSystemMessageModules();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_MESSAGE_MODULE_H_
