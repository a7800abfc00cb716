#ifndef SENTORY_PLATFORM_REGISTRY_H_
#define SENTORY_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <memory>

namespace sentory {

/// Value types as the registry reports them.
constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3,
                        kRegDword = 4, kRegMultiSz = 7;
/// The platform's error codes that the registry calls return.
constexpr long kErrorSuccess = 0, kErrorFileNotFound = 2, kErrorMoreData = 234,
               kErrorBadNetpath = 53;
/// The registry of a machine that exists but cannot be read (a registry
/// export that is not one).
constexpr long kErrorBadDb = 1009;
/// A key handle that is not one.
constexpr long kErrorInvalidHandle = 6;

/// The registry, local and remote, and the expansion of environment
/// references. Abstract so tests can use a registry held in memory;
/// MakeSystemRegistry() gives the machine's own.
class RegistryService {
 public:
  using Key = void*;
  enum class Root { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };

  virtual ~RegistryService() = default;
  /// The predefined key of |root| in the local registry (HKEY_LOCAL_MACHINE
  /// and its kin). Never fails; it need not be closed.
  virtual Key LocalRoot(Root root) = 0;
  /// RegConnectRegistryA: 0 with *result set, or the platform's error code
  /// (53 when the machine cannot be reached).
  virtual long ConnectRegistry(const char* machine, Root root, Key* result) = 0;
  /// RegOpenKeyA: 0 with *result set, or the error code (2 when the key does
  /// not exist).
  virtual long OpenKey(Key parent, const char* sub_key, Key* result) = 0;
  /// RegQueryValueExA: 0 with the data in |data|, its type in *type and its
  /// size in *size; ERROR_MORE_DATA (234) when the value does not fit *size
  /// bytes (then *size is the size needed), 2 when the value is missing.
  /// String values come as single-byte text in the ANSI code page.
  virtual long QueryValueEx(Key key, const char* value_name,
                            std::uint32_t* type, unsigned char* data,
                            std::uint32_t* size) = 0;
  /// RegCloseKey: 0, or the error code.
  virtual long CloseKey(Key key) = 0;
  /// ExpandEnvironmentStringsA: the size the result needs, terminator
  /// included (as Windows counts it); 0 on failure. Writes nothing past
  /// |size| bytes.
  virtual std::uint32_t ExpandEnvironmentStrings(const char* source,
                                                 char* destination,
                                                 std::uint32_t size) = 0;
};

/// The registry of this machine and of the machines it reaches.
std::unique_ptr<RegistryService> MakeSystemRegistry();

}  // namespace sentory

#endif  // SENTORY_PLATFORM_REGISTRY_H_
