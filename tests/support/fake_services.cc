#include "tests/support/fake_services.h"

#include <cstring>

namespace sentory {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void AppendText(std::vector<std::uint8_t>* bytes, const std::string& text) {
  bytes->insert(bytes->end(), text.c_str(), text.c_str() + text.size() + 1);
}

void Align(std::vector<std::uint8_t>* bytes) {
  bytes->resize((bytes->size() + 3) / 4 * 4, 0);
}

// The record bytes as the event log service returns them.
std::vector<std::uint8_t> BuildRecord(const EventFields& fields) {
  std::vector<std::uint8_t> bytes(sizeof(EventLogRecord));
  AppendText(&bytes, fields.source);
  AppendText(&bytes, fields.computer);
  Align(&bytes);
  EventLogRecord header = {};
  header.StringOffset = header.UserSidOffset =
      static_cast<std::uint32_t>(bytes.size());
  for (const std::string& s : fields.strings) AppendText(&bytes, s);
  header.DataOffset = static_cast<std::uint32_t>(bytes.size());
  header.DataLength = fields.data_bytes;
  bytes.resize(bytes.size() + fields.data_bytes, 0xAB);
  Align(&bytes);
  bytes.resize(bytes.size() + 4);  // the closing length
  header.Length = static_cast<std::uint32_t>(bytes.size());
  header.Reserved = 0x654c664c;
  header.RecordNumber = fields.number;
  header.TimeGenerated = header.TimeWritten = fields.time;
  header.EventID = fields.event_id;
  header.EventType = fields.type;
  header.NumStrings = static_cast<std::uint16_t>(fields.strings.size());
  std::memcpy(bytes.data(), &header, sizeof(header));
  std::memcpy(bytes.data() + bytes.size() - 4, &header.Length, 4);
  return bytes;
}

}  // namespace

EventRecord MakeEventRecord(const EventFields& fields) {
  std::vector<std::uint8_t> bytes = BuildRecord(fields);
  EventRecord record;
  record.size = static_cast<std::uint32_t>(bytes.size());
  record.data = std::make_unique<std::uint8_t[]>(record.size);
  std::memcpy(record.data.get(), bytes.data(), bytes.size());
  return record;
}

FakeEventLog::Log& FakeEventLog::At(const std::string& machine,
                                    const std::string& log) {
  return machines_[Upper(machine)][log];
}

void FakeEventLog::Append(const std::string& machine, const std::string& log,
                          EventFields fields) {
  Log& l = At(machine, log);
  if (l.records.empty() && l.oldest == 0) l.oldest = 1;
  fields.number = l.oldest + static_cast<std::uint32_t>(l.records.size());
  l.records.push_back(BuildRecord(fields));
}

void FakeEventLog::Clear(const std::string& machine, const std::string& log) {
  At(machine, log) = Log();
}

void FakeEventLog::Drop(const std::string& machine, const std::string& log,
                        int count) {
  Log& l = At(machine, log);
  l.records.erase(l.records.begin(), l.records.begin() + count);
  l.oldest += static_cast<std::uint32_t>(count);
}

EventLogService::Handle FakeEventLog::OpenEventLog(const char* server,
                                                   const char* source) {
  std::string machine = Upper(server != nullptr ? server : "");
  opens.push_back(machine + "/" + source);
  auto m = machines_.find(machine);
  if (m == machines_.end()) {
    last_error_ = kErrorBadNetpath;
    return nullptr;
  }
  ++open_handles;
  return &m->second[source];
}

bool FakeEventLog::GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) {
  Log* l = static_cast<Log*>(log);
  *oldest = l->records.empty() ? 0 : l->oldest;
  return !l->fail_queries;
}

bool FakeEventLog::GetNumberOfEventLogRecords(Handle log,
                                              std::uint32_t* count) {
  Log* l = static_cast<Log*>(log);
  *count = static_cast<std::uint32_t>(l->records.size());
  return !l->fail_queries;
}

bool FakeEventLog::ReadEventLog(Handle log, std::uint32_t flags,
                                std::uint32_t record_number, void* buffer,
                                std::uint32_t size, std::uint32_t* bytes_read,
                                std::uint32_t* bytes_needed) {
  constexpr std::uint32_t kSeekForwards = 0x0002 | 0x0004;
  Log* l = static_cast<Log*>(log);
  read_sizes.push_back(size);
  if (flags != kSeekForwards || l->fail_reads || record_number < l->oldest ||
      record_number - l->oldest >= l->records.size()) {
    last_error_ = kErrorInvalidParameter;
    return false;
  }
  const std::vector<std::uint8_t>& r = l->records[record_number - l->oldest];
  if (r.size() > size) {
    *bytes_needed = static_cast<std::uint32_t>(r.size());
    last_error_ = kErrorInsufficientBuffer;
    return false;
  }
  std::memcpy(buffer, r.data(), r.size());
  *bytes_read = static_cast<std::uint32_t>(r.size());
  return true;
}

bool FakeEventLog::CloseEventLog(Handle log) {
  if (log != nullptr) --open_handles;
  return true;
}

void FakeRegistry::Set(const std::string& machine, const std::string& key,
                       const std::string& name, std::uint32_t type,
                       const std::string& data) {
  machines_[Upper(machine)][Upper(key)][Upper(name)] = Value{type, data};
}

RegistryService::Key FakeRegistry::NewHandle(std::string machine,
                                             std::string key) {
  auto handle = std::make_unique<Handle>(Handle{machine, key});
  Key result = handle.get();
  handles_[result] = std::move(handle);
  return result;
}

RegistryService::Key FakeRegistry::LocalRoot(Root) { return NewHandle("", ""); }

long FakeRegistry::ConnectRegistry(const char* machine, Root, Key* result) {
  std::string name = Upper(machine);
  if (machines_.find(name) == machines_.end()) return kErrorBadNetpath;
  *result = NewHandle(name, "");
  ++open_keys;
  return kErrorSuccess;
}

long FakeRegistry::OpenKey(Key parent, const char* sub_key, Key* result) {
  const std::string& machine = static_cast<Handle*>(parent)->machine;
  std::string key = Upper(sub_key);
  if (machines_[machine].count(key) == 0) return kErrorFileNotFound;
  *result = NewHandle(machine, key);
  ++open_keys;
  return kErrorSuccess;
}

long FakeRegistry::QueryValueEx(Key key, const char* value_name,
                                std::uint32_t* type, unsigned char* data,
                                std::uint32_t* size) {
  Handle* h = static_cast<Handle*>(key);
  auto& values = machines_[h->machine][h->key];
  auto it = values.find(Upper(value_name));
  if (it == values.end()) return kErrorFileNotFound;
  const Value& v = it->second;
  *type = v.type;
  bool fits = v.data.size() <= *size;
  if (fits) std::memcpy(data, v.data.data(), v.data.size());
  *size = static_cast<std::uint32_t>(v.data.size());
  return fits ? kErrorSuccess : kErrorMoreData;
}

long FakeRegistry::CloseKey(Key key) {
  handles_.erase(key);  // released, so a long run does not pile them up
  --open_keys;
  return kErrorSuccess;
}

std::uint32_t FakeRegistry::ExpandEnvironmentStrings(const char* source,
                                                     char* destination,
                                                     std::uint32_t size) {
  std::string text(source), result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t end =
        text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    auto it = end == std::string::npos
                  ? environment.end()
                  : environment.find(Upper(text.substr(i + 1, end - i - 1)));
    if (it == environment.end()) {
      result += text[i];
    } else {
      result += it->second;
      i = end;
    }
  }
  std::uint32_t needed = static_cast<std::uint32_t>(result.size() + 1);
  if (needed <= size) std::memcpy(destination, result.c_str(), needed);
  return needed;
}

MessageModules::Module FakeMessages::LoadLibraryEx(const char* file_name) {
  loads.push_back(file_name);
  auto it = files.find(file_name);
  if (it == files.end()) return nullptr;
  ++loaded;
  return &it->second;
}

std::uint32_t FakeMessages::FormatMessage(std::uint32_t flags, Module module,
                                          std::uint32_t message_id,
                                          std::uint32_t language_id,
                                          char** buffer,
                                          const char* const* arguments,
                                          std::uint32_t argument_count) {
  // Argument array, from the module, allocated buffer, maximum width.
  constexpr std::uint32_t kFlags = 0x2000 | 0x0800 | 0x0100 | 0x00FF;
  if (flags != kFlags || language_id != 0) return 0;
  auto* messages = static_cast<std::map<std::uint32_t, std::string>*>(module);
  auto it = messages->find(message_id);
  if (it == messages->end()) return 0;
  std::string text;
  const std::string& m = it->second;
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (m[i] == '%' && i + 1 < m.size() && m[i + 1] >= '1' && m[i + 1] <= '9' &&
        static_cast<std::uint32_t>(m[i + 1] - '0') <= argument_count) {
      text += arguments[m[++i] - '1'];
    } else {
      text += m[i];
    }
  }
  *buffer = new char[text.size() + 1];
  std::memcpy(*buffer, text.c_str(), text.size() + 1);
  ++buffers;
  return static_cast<std::uint32_t>(text.size());
}

bool FakeMessages::FreeLibrary(Module) {
  --loaded;
  return true;
}

void FakeMessages::LocalFree(char* buffer) {
  delete[] buffer;
  --buffers;
}

FileMapper::Handle FakeFileMapper::OpenFile(const char* path) {
  auto it = files.find(path);
  if (it == files.end()) return nullptr;
  ++handles;
  return &it->second;
}

FileMapper::Handle FakeFileMapper::CreateFileMapping(Handle file) {
  if (fail_mapping || static_cast<std::string*>(file)->empty()) return nullptr;
  ++handles;
  return file;
}

const char* FakeFileMapper::MapViewOfFile(Handle mapping, std::size_t* size) {
  if (fail_view) return nullptr;
  ++views;
  std::string* content = static_cast<std::string*>(mapping);
  *size = content->size();
  return content->data();
}

}  // namespace sentory
