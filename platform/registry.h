#ifndef SENTORY_PLATFORM_REGISTRY_H_
#define SENTORY_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <memory>

namespace sentory {

constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3,
                        kRegDword = 4, kRegMultiSz = 7;
constexpr long kErrorSuccess = 0, kErrorFileNotFound = 2, kErrorMoreData = 234,
               kErrorBadNetpath = 53;

/// The registry, local and remote, and environment expansion. Abstract so it
/// can be faked in tests; MakeSystemRegistry() gives the real one.
class RegistryService {
 public:
  using Key = void*;
  enum class Root { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };
  virtual ~RegistryService() = default;
  /// The predefined key of |root| in the local registry.
  virtual Key LocalRoot(Root root) = 0;
  /// RegConnectRegistryA: 0 with *result set, or the platform's error code.
  virtual long ConnectRegistry(const char* machine, Root root, Key* result) = 0;
  /// RegOpenKeyA: 0 with *result set, or the error code.
  virtual long OpenKey(Key parent, const char* sub_key, Key* result) = 0;
  /// RegQueryValueExA: 0 with the data in |data|, its type in *type and its
  /// size in *size; ERROR_MORE_DATA (234) when the value does not fit *size
  /// bytes (then *size is the size needed), 2 when the value is missing.
  virtual long QueryValueEx(Key key, const char* value_name,
                            std::uint32_t* type, unsigned char* data,
                            std::uint32_t* size) = 0;
  /// RegCloseKey.
  virtual long CloseKey(Key key) = 0;
  /// ExpandEnvironmentStringsA: the size the result needs, terminator
  /// included (as Windows counts it); 0 on failure. Writes nothing past
  /// |size| bytes.
  virtual std::uint32_t ExpandEnvironmentStrings(const char* source,
                                                 char* destination,
                                                 std::uint32_t size) = 0;
};

std::unique_ptr<RegistryService> MakeSystemRegistry();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_REGISTRY_H_
