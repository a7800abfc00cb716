// Windows file names on POSIX systems: drives are folders of the site. Only
// POSIX and C++ standard library code may live here.

#include <vector>

#include "platform/drive_path.h"
#include "winformat/site.h"

namespace sentory {
namespace {

constexpr const char* kDrivesFolder = "drives";

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string EntryPath(const std::string& folder, const std::string& name) {
  std::string found = FindNoCase(folder, name);
  if (found.empty() || found.find('/') != std::string::npos) return found;
  return folder + "/" + found;
}

}  // namespace

std::string DrivePath(const char* name) {
  if (name == nullptr) return "";
  std::string text = name;
  if (!text.empty() && text[0] == '/') return text;
  if (text.size() < 3 || !IsLetter(text[0]) || text[1] != ':' ||
      (text[2] != '\\' && text[2] != '/')) {
    return "";
  }
  std::vector<std::string> parts;
  std::string part;
  for (std::size_t i = 3; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\\' && text[i] != '/') {
      part.push_back(text[i]);
      continue;
    }
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  }
  if (parts.empty()) return "";
  std::string path = EntryPath(SiteRoot(), kDrivesFolder);
  if (!path.empty()) path = EntryPath(path, std::string(1, text[0]));
  for (const std::string& p : parts) {
    if (path.empty()) break;
    path = EntryPath(path, p);
  }
  return path;
}

}  // namespace sentory
