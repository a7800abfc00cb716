#include "eventlog/alert_text.h"

#include <cstring>
#include <memory>
#include <vector>

namespace sentory {
namespace {

constexpr char kEventLogKey[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\EventLog\\";

struct RootName {
  const char* name;
  RegistryService::Root root;
};

const RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", RegistryService::Root::kClassesRoot},
    {"HKEY_CURRENT_USER", RegistryService::Root::kCurrentUser},
    {"HKEY_LOCAL_MACHINE", RegistryService::Root::kLocalMachine},
    {"HKEY_USERS", RegistryService::Root::kUsers},
};

// Asks each message file of |list| (names separated by ";") in turn for the
// message; true with |message| set when one holds it.
bool FindMessage(MessageModules& messages, const char* list,
                 std::uint32_t message_id, const std::vector<const char*>& args,
                 std::string* message) {
  std::string names(list);
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    MessageModules::Module module = messages.LoadLibraryEx(name.c_str());
    if (module == nullptr) continue;
    char* buffer = nullptr;
    std::uint32_t length =
        messages.FormatMessage(kFormatMessageFlags, module, message_id, 0,
                               &buffer, args.empty() ? nullptr : args.data(),
                               static_cast<std::uint32_t>(args.size()));
    messages.FreeLibrary(module);
    if (length > 0 && buffer != nullptr) {
      message->assign(buffer, length);
      messages.LocalFree(buffer);
      return true;
    }
    if (buffer != nullptr) messages.LocalFree(buffer);
  }
  return false;
}

}  // namespace

const char* TypeWord(std::uint16_t event_type) {
  switch (event_type) {
    case 1:
      return "ERR";
    case 2:
      return "WARN";
    case 4:
      return "INFO";
    case 8:
      return "SCSS";
    case 16:
      return "FAIL";
    default:
      return "";
  }
}

int ParseRegistryRoot(const char* key_path, RegistryService::Root* root,
                      char* sub_key) {
  std::size_t length = std::strlen(key_path);
  if (length >= kRegistryTextSize) return 1;
  std::memcpy(sub_key, key_path, length + 1);
  for (std::size_t i = 0; i < length; ++i) {
    if (sub_key[i] >= 'a' && sub_key[i] <= 'z') sub_key[i] -= 'a' - 'A';
  }
  for (const RootName& candidate : kRoots) {
    std::size_t name_length = std::strlen(candidate.name);
    if (std::strncmp(sub_key, candidate.name, name_length) != 0) continue;
    *root = candidate.root;
    std::size_t skip = name_length + (sub_key[name_length] == '\\' ? 1 : 0);
    std::memmove(sub_key, sub_key + skip, length + 1 - skip);
    return 0;
  }
  return 1;
}

int ReadRegistryValue(RegistryService& registry, const char* machine,
                      const char* key_path, const char* value_name, char* value,
                      std::uint32_t* size) {
  RegistryService::Root root_name = RegistryService::Root::kLocalMachine;
  char sub_key[kRegistryTextSize];
  if (ParseRegistryRoot(key_path, &root_name, sub_key) != 0) return 1;

  RegistryService::Key connection = nullptr;
  RegistryService::Key root = nullptr;
  if (machine != nullptr) {
    if (registry.ConnectRegistry(machine, root_name, &connection) != 0) {
      return 1;
    }
    root = connection;
  } else {
    root = registry.LocalRoot(root_name);
  }
  auto close_connection = [&] {
    if (connection != nullptr) registry.CloseKey(connection);
  };

  RegistryService::Key key = nullptr;
  if (registry.OpenKey(root, sub_key, &key) != 0) {
    close_connection();
    return 1;
  }
  const std::uint32_t capacity = *size;
  std::uint32_t type = 0;
  if (registry.QueryValueEx(key, value_name, &type,
                            reinterpret_cast<unsigned char*>(value),
                            size) != 0 ||
      *size > capacity) {
    registry.CloseKey(key);
    close_connection();
    return 1;
  }
  // The registry need not store a terminator; the caller's buffer has room
  // for one behind its capacity.
  value[*size] = '\0';

  int result = 0;
  if (type == kRegExpandSz) {
    std::unique_ptr<char[]> expanded(new char[capacity]);
    std::uint32_t needed =
        registry.ExpandEnvironmentStrings(value, expanded.get(), capacity);
    if (needed == 0 || needed > capacity) {
      result = 1;  // failed, or too long for the buffer
    } else {
      std::memcpy(value, expanded.get(), needed);
      value[needed - 1] = '\0';
    }
  }
  registry.CloseKey(key);
  close_connection();
  return result;
}

std::string RenderAlert(RegistryService& registry, MessageModules& messages,
                        const EventRecord& record, const char* log_name) {
  const EventLogRecord header = record.Header();
  const std::string source = record.SourceName();
  const std::string computer = record.ComputerName();
  const std::vector<std::string> strings = record.Strings();
  std::vector<const char*> args;
  args.reserve(strings.size());
  for (const std::string& s : strings) args.push_back(s.c_str());

  std::string message;
  bool found = false;
  std::string key_path = kEventLogKey;
  key_path += log_name;
  key_path += '\\';
  key_path += source;
  if (key_path.size() < kRegistryTextSize) {
    char value[kRegistryTextSize + 1];
    std::uint32_t size = kRegistryTextSize;
    if (ReadRegistryValue(registry, computer.c_str(), key_path.c_str(),
                          "EventMessageFile", value, &size) == 0) {
      found = FindMessage(messages, value, header.EventID, args, &message);
    }
  }

  std::string text = computer;
  text += '*';
  for (int i = 0; i < 3 && log_name[i] != '\0'; ++i) text += log_name[i];
  text += '*';
  text += TypeWord(header.EventType);
  text += '*';
  text += source;
  text += '*';
  text += std::to_string(header.EventID & 0xFFFF);
  text += '*';
  if (found) {
    text += message;
  } else {
    for (std::size_t i = 0; i < strings.size(); ++i) {
      if (i > 0) text += '|';
      text += strings[i];
    }
  }
  for (char& c : text) {
    if (c == '\n') c = '|';
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) c = ' ';
  }
  return text;
}

}  // namespace sentory
