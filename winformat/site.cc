#include "winformat/site.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/host_name.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string SiteRoot() {
  const char* root = std::getenv("SENTORY_ROOT");
  std::string path =
      root != nullptr && *root != '\0' ? root : "/var/lib/sentory";
  // Where paths use backslashes (Windows), a Unix-style path means the
  // host's file system, which Wine shows as drive Z:.
  if (fs::path::preferred_separator == '\\' && path[0] == '/') {
    path = "Z:" + path;
  }
  return path;
}

std::string FindNoCase(const std::string& folder, const std::string& name,
                       bool* failed) {
  if (failed != nullptr) *failed = false;
  if (name.empty()) return "";
  std::error_code error;
  fs::path exact = fs::path(folder) / name;
  if (fs::exists(exact, error)) return exact.string();
  // What a listing found stays true while the folder's modification time
  // stays the same; one changed too recently for its time to tell a later
  // change is listed again.
  struct Listed {
    fs::file_time_type modified;
    std::string found;
  };
  static std::mutex mutex;
  static std::map<std::string, Listed> listed;
  std::string key = folder + '\0' + name;
  fs::file_time_type modified = fs::last_write_time(folder, error);
  bool dated = !error;
  if (dated) {
    std::lock_guard<std::mutex> hold(mutex);
    auto it = listed.find(key);
    if (it != listed.end() && it->second.modified == modified) {
      return it->second.found;
    }
  }
  std::string found;
  fs::directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    if (EqualNoCase(it->path().filename().string(), name)) {
      found = it->path().string();
      break;
    }
  }
  if (error) {
    if (failed != nullptr) *failed = true;
    return "";
  }
  if (dated &&
      fs::file_time_type::clock::now() - modified > std::chrono::seconds(2)) {
    std::lock_guard<std::mutex> hold(mutex);
    if (listed.size() >= 4096) listed.clear();
    listed[key] = {modified, found};
  }
  return found;
}

std::string MachineFolderName(const char* name) {
  std::string machine = name != nullptr ? name : "";
  std::size_t start = machine.find_first_not_of('\\');
  machine = start == std::string::npos ? "" : machine.substr(start);
  return machine.empty() ? HostName() : machine;
}

std::string MachineFolder(const char* name) {
  std::string machine = MachineFolderName(name);
  if (machine.empty() || machine.find_first_of("/\\") != std::string::npos ||
      machine == "." || machine == "..") {
    return "";
  }
  // A folder found before is taken again while it is still a folder (one
  // look at it); one renamed or removed is looked for afresh.
  static std::mutex mutex;
  static std::map<std::string, std::string> found;
  std::string root = SiteRoot();
  std::string key = root + '\0' + machine;
  std::error_code error;
  {
    std::lock_guard<std::mutex> hold(mutex);
    auto cached = found.find(key);
    if (cached != found.end()) {
      if (fs::is_directory(cached->second, error)) return cached->second;
      found.erase(cached);
    }
  }
  std::string folder = FindNoCase(root, machine);
  if (folder.empty() || !fs::is_directory(folder, error)) return "";
  std::lock_guard<std::mutex> hold(mutex);
  found[key] = folder;
  return folder;
}

}  // namespace sentory
