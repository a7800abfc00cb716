#include "winformat/environment_expand.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sentory {
namespace {

// The variables a registry export names its message files by, with their
// values on a standard Windows installation.
struct WindowsVariable {
  const char* name;
  const char* value;
};
constexpr WindowsVariable kWindowsVariables[] = {
    {"SystemRoot", "C:\\Windows"},
    {"windir", "C:\\Windows"},
    {"SystemDrive", "C:"},
    {"ProgramFiles", "C:\\Program Files"},
    {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
};

bool WindowsDefault(std::string_view name, std::string* value) {
  for (const WindowsVariable& variable : kWindowsVariables) {
    std::string_view known = variable.name;
    if (name.size() == known.size() &&
        std::equal(name.begin(), name.end(), known.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      *value = variable.value;
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint32_t ExpandEnvironment(const char* source,
                                const EnvironmentLookup& lookup,
                                char* destination, std::uint32_t size) {
  if (source == nullptr) return 0;
  std::string_view rest = source;
  std::string result;
  std::string value;
  while (!rest.empty()) {
    std::size_t percent = rest.find('%');
    result.append(rest.substr(0, percent));
    if (percent == std::string_view::npos) break;
    rest.remove_prefix(percent);
    std::size_t close = rest.find('%', 1);
    if (close == std::string_view::npos) {
      result.append(rest);
      break;
    }
    std::string_view name = rest.substr(1, close - 1);
    value.clear();
    if (!name.empty() &&
        (lookup(name, &value) || WindowsDefault(name, &value))) {
      result.append(value);
    } else {
      result.append(rest.substr(0, close + 1));
    }
    rest.remove_prefix(close + 1);
  }
  std::size_t needed = result.size() + 1;
  if (destination != nullptr && size > 0) {
    std::size_t copied = needed <= size ? result.size() : size - 1;
    std::memcpy(destination, result.data(), copied);
    destination[copied] = '\0';
  }
  return static_cast<std::uint32_t>(needed);
}

}  // namespace sentory
