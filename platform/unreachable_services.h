#ifndef SENTORY_PLATFORM_UNREACHABLE_SERVICES_H_
#define SENTORY_PLATFORM_UNREACHABLE_SERVICES_H_

#include "platform/event_log.h"
#include "platform/message_module.h"
#include "platform/registry.h"

namespace sentory {

/// Services that cannot be reached: every open and connection fails. They
/// stand where a platform has no backend yet.
class UnreachableEventLog : public EventLogService {
 public:
  Handle OpenEventLog(const char*, const char*) override { return nullptr; }
  bool GetOldestEventLogRecord(Handle, std::uint32_t*) override {
    return false;
  }
  bool GetNumberOfEventLogRecords(Handle, std::uint32_t*) override {
    return false;
  }
  bool ReadEventLog(Handle, std::uint32_t, std::uint32_t, void*, std::uint32_t,
                    std::uint32_t*, std::uint32_t*) override {
    return false;
  }
  bool CloseEventLog(Handle) override { return false; }
  std::uint32_t LastError() override { return kErrorBadNetpath; }
};

class UnreachableRegistry : public RegistryService {
 public:
  Key LocalRoot(Root) override { return nullptr; }
  long ConnectRegistry(const char*, Root, Key*) override {
    return kErrorBadNetpath;
  }
  long OpenKey(Key, const char*, Key*) override { return kErrorFileNotFound; }
  long QueryValueEx(Key, const char*, std::uint32_t*, unsigned char*,
                    std::uint32_t*) override {
    return kErrorFileNotFound;
  }
  long CloseKey(Key) override { return kErrorSuccess; }
  std::uint32_t ExpandEnvironmentStrings(const char*, char*,
                                         std::uint32_t) override {
    return 0;
  }
};

class UnreachableMessages : public MessageModules {
 public:
  Module LoadLibraryEx(const char*) override { return nullptr; }
  std::uint32_t FormatMessage(std::uint32_t, Module, std::uint32_t,
                              std::uint32_t, char**, const char* const*,
                              std::uint32_t) override {
    return 0;
  }
  bool FreeLibrary(Module) override { return false; }
  void LocalFree(char*) override {}
};

}  // namespace sentory

#endif  // SENTORY_PLATFORM_UNREACHABLE_SERVICES_H_
