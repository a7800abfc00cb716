// The registry on POSIX systems: each machine's registry is the registry
// export in its folder of the site, and the environment is the process's
// own. Only POSIX and C++ standard library code may live here.

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/locked_file.h"
#include "platform/registry.h"
#include "winformat/environment_expand.h"
#include "winformat/reg_file.h"
#include "winformat/site.h"

extern char** environ;

namespace sentory {
namespace {

constexpr const char* kRegistryFileName = "registry.reg";
constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                      "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
constexpr int kRootCount = 4;

// The path of the entry of |folder| named |name| without regard to case,
// "" when there is none.
std::string EntryPath(const std::string& folder, const std::string& name) {
  std::string found = FindNoCase(folder, name);
  if (found.empty() || found.find('/') != std::string::npos) return found;
  return folder + "/" + found;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return false;
  *bytes = content.str();
  return true;
}

// An open key: the registry it belongs to (kept alive while the key is
// open) and the key itself.
struct OpenedKey {
  std::shared_ptr<const RegistryFile> registry;
  const RegistryKey* key;
};

class PosixRegistry : public RegistryService {
 public:
  Key LocalRoot(Root root) override {
    return &local_roots_[static_cast<int>(root)];
  }

  long ConnectRegistry(const char* machine, Root root, Key* result) override {
    std::string folder = MachineFolder(machine);
    if (folder.empty()) return kErrorBadNetpath;
    std::shared_ptr<const RegistryFile> registry;
    long error = Load(folder, &registry);
    if (error != kErrorSuccess) return error;
    *result = Open(registry, RootKey(*registry, root));
    return kErrorSuccess;
  }

  long OpenKey(Key parent, const char* sub_key, Key* result) override {
    OpenedKey opened;
    long error = Resolve(parent, &opened);
    if (error != kErrorSuccess) return error;
    const RegistryKey* key =
        RegistryFile::Find(*opened.key, sub_key == nullptr ? "" : sub_key);
    if (key == nullptr) return kErrorFileNotFound;
    *result = Open(opened.registry, key);
    return kErrorSuccess;
  }

  long QueryValueEx(Key key, const char* value_name, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* size) override {
    OpenedKey opened;
    long error = Resolve(key, &opened);
    if (error != kErrorSuccess) return error;
    return RegistryFile::QueryValue(
        *opened.key, value_name == nullptr ? "" : value_name, type, data, size);
  }

  long CloseKey(Key key) override {
    if (IsLocalRoot(key)) return kErrorSuccess;
    return open_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
  }

  std::uint32_t ExpandEnvironmentStrings(const char* source, char* destination,
                                         std::uint32_t size) override {
    return ExpandEnvironment(source, &LookUpVariable, destination, size);
  }

 private:
  // Variables are named without regard to case, as on Windows; of two that
  // differ only in case the first in the environment wins.
  static bool LookUpVariable(std::string_view name, std::string* value) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr;
         ++entry) {
      const char* equals = std::strchr(*entry, '=');
      if (equals == nullptr || equals == *entry ||
          static_cast<std::size_t>(equals - *entry) != name.size() ||
          strncasecmp(*entry, name.data(), name.size()) != 0) {
        continue;
      }
      *value = equals + 1;
      return true;
    }
    return false;
  }

  bool IsLocalRoot(Key key) const {
    for (const char& root : local_roots_) {
      if (key == &root) return true;
    }
    return false;
  }

  static const RegistryKey* RootKey(const RegistryFile& registry, Root root) {
    static const RegistryKey kEmpty;
    const RegistryKey* key =
        RegistryFile::Find(registry.Top(), kRootNames[static_cast<int>(root)]);
    return key == nullptr ? &kEmpty : key;
  }

  Key Open(std::shared_ptr<const RegistryFile> registry,
           const RegistryKey* key) {
    auto opened =
        std::make_unique<OpenedKey>(OpenedKey{std::move(registry), key});
    Key handle = opened.get();
    open_[handle] = std::move(opened);
    return handle;
  }

  // The registry and key behind |key|: a predefined key of the local
  // registry is the local machine's registry export.
  long Resolve(Key key, OpenedKey* opened) {
    for (int i = 0; i < kRootCount; ++i) {
      if (key != &local_roots_[i]) continue;
      std::string folder = MachineFolder(nullptr);
      if (folder.empty()) return kErrorFileNotFound;
      long error = Load(folder, &opened->registry);
      if (error != kErrorSuccess) return error;
      opened->key = RootKey(*opened->registry, static_cast<Root>(i));
      return kErrorSuccess;
    }
    auto found = open_.find(key);
    if (found == open_.end()) return kErrorInvalidHandle;
    *opened = *found->second;
    return kErrorSuccess;
  }

  // The registry of machine folder |folder|, read again only when its file
  // has changed since it was last read. The file found before is looked at
  // once; when it is gone it is looked for afresh.
  long Load(const std::string& folder,
            std::shared_ptr<const RegistryFile>* registry) {
    Cached& cached = cache_[folder];
    struct stat info;
    if (cached.path.empty() || stat(cached.path.c_str(), &info) != 0) {
      cached = Cached();
      cached.path = EntryPath(folder, kRegistryFileName);
      if (cached.path.empty() || stat(cached.path.c_str(), &info) != 0) {
        cache_.erase(folder);
        return kErrorBadNetpath;
      }
    }
    if (cached.registry != nullptr && cached.settled &&
        cached.modified == info.st_mtim.tv_sec &&
        cached.modified_ns == info.st_mtim.tv_nsec &&
        cached.changed == info.st_ctim.tv_sec &&
        cached.changed_ns == info.st_ctim.tv_nsec &&
        cached.size == info.st_size && cached.inode == info.st_ino) {
      *registry = cached.registry;
      return kErrorSuccess;
    }
    std::string bytes;
    auto parsed = std::make_shared<RegistryFile>();
    if (!ReadWholeFile(cached.path, &bytes)) return kErrorBadNetpath;
    if (!parsed->Parse(bytes)) return kErrorBadDb;
    cached.registry = parsed;
    cached.modified = info.st_mtim.tv_sec;
    cached.modified_ns = info.st_mtim.tv_nsec;
    cached.changed = info.st_ctim.tv_sec;
    cached.changed_ns = info.st_ctim.tv_nsec;
    cached.size = info.st_size;
    cached.inode = info.st_ino;
    // A file changed within the steps of its times is read again next time:
    // a later write might leave them as they are.
    cached.settled = StampShowsLaterWrites(
        static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 +
        info.st_ctim.tv_nsec);
    *registry = parsed;
    return kErrorSuccess;
  }

  struct Cached {
    std::string path;
    std::shared_ptr<const RegistryFile> registry;
    time_t modified = 0;
    long modified_ns = 0;
    time_t changed = 0;
    long changed_ns = 0;
    off_t size = 0;
    ino_t inode = 0;
    bool settled = false;
  };

  char local_roots_[kRootCount] = {};
  std::map<Key, std::unique_ptr<OpenedKey>> open_;
  std::map<std::string, Cached> cache_;
};

}  // namespace

std::unique_ptr<RegistryService> MakeSystemRegistry() {
  return std::make_unique<PosixRegistry>();
}

}  // namespace sentory
