// The registry on Windows: the real registry calls. Only Win32 and C++
// standard library code may live here.

#include <windows.h>

// The interface names its methods after the calls, which windows.h makes
// macros.
#undef ExpandEnvironmentStrings

#include "platform/registry.h"

namespace sentory {
namespace {

HKEY Handle(RegistryService::Key key) { return static_cast<HKEY>(key); }

HKEY Predefined(RegistryService::Root root) {
  switch (root) {
    case RegistryService::Root::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryService::Root::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryService::Root::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryService::Root::kUsers:
      return HKEY_USERS;
  }
  return HKEY_LOCAL_MACHINE;
}

class Win32Registry : public RegistryService {
 public:
  Key LocalRoot(Root root) override { return Predefined(root); }

  long ConnectRegistry(const char* machine, Root root, Key* result) override {
    HKEY key = nullptr;
    LONG error = ::RegConnectRegistryA(machine, Predefined(root), &key);
    if (error == ERROR_SUCCESS) *result = key;
    return error;
  }

  long OpenKey(Key parent, const char* sub_key, Key* result) override {
    HKEY key = nullptr;
    LONG error = ::RegOpenKeyA(Handle(parent), sub_key, &key);
    if (error == ERROR_SUCCESS) *result = key;
    return error;
  }

  long QueryValueEx(Key key, const char* value_name, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* size) override {
    DWORD value_type = 0;
    DWORD value_size = size == nullptr ? 0 : *size;
    LONG error =
        ::RegQueryValueExA(Handle(key), value_name, nullptr, &value_type, data,
                           size == nullptr ? nullptr : &value_size);
    if (type != nullptr) *type = value_type;
    if (size != nullptr) *size = value_size;
    return error;
  }

  long CloseKey(Key key) override { return ::RegCloseKey(Handle(key)); }

  std::uint32_t ExpandEnvironmentStrings(const char* source, char* destination,
                                         std::uint32_t size) override {
    return ::ExpandEnvironmentStringsA(source, destination, size);
  }
};

}  // namespace

std::unique_ptr<RegistryService> MakeSystemRegistry() {
  return std::make_unique<Win32Registry>();
}

}  // namespace sentory
