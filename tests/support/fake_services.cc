#include "tests/support/fake_services.h"

#include <cstring>

namespace sentory {
std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

namespace {

void Add(std::vector<std::uint8_t>* bytes, const std::string& text) {
  bytes->insert(bytes->end(), text.c_str(), text.c_str() + text.size() + 1);
}

void Align(std::vector<std::uint8_t>* bytes) {
  bytes->resize((bytes->size() + 3) / 4 * 4, 0);
}

std::vector<std::uint8_t> BuildRecord(const EventFields& fields) {
  std::vector<std::uint8_t> bytes(sizeof(EventLogRecord));
  Add(&bytes, fields.source);
  Add(&bytes, fields.computer);
  Align(&bytes);
  EventLogRecord header = {};
  header.StringOffset = header.UserSidOffset =
      static_cast<std::uint32_t>(bytes.size());
  for (const std::string& s : fields.strings) Add(&bytes, s);
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
  return machines[Upper(machine)][log];
}

void FakeEventLog::Append(const std::string& machine, const std::string& log,
                          EventFields fields) {
  Log& l = At(machine, log);
  if (l.records.empty() && l.oldest == 0) l.oldest = 1;
  fields.number = l.oldest + static_cast<std::uint32_t>(l.records.size());
  l.records.push_back(BuildRecord(fields));
}

void FakeEventLog::Drop(const std::string& machine, const std::string& log,
                        int count) {
  Log& l = At(machine, log);
  l.records.erase(l.records.begin(), l.records.begin() + count);
  l.oldest += static_cast<std::uint32_t>(count);
}

EventLogService::Handle FakeEventLog::OpenEventLog(const char* server,
                                                   const char* source) {
  std::string machine = Upper(server ? server : "");
  auto m = machines.find(machine);
  if (m == machines.end()) return last_error = kErrorBadNetpath, nullptr;
  ++open_handles;
  return &m->second[source];
}

bool FakeEventLog::ReadEventLog(Handle log, std::uint32_t flags,
                                std::uint32_t number, void* buffer,
                                std::uint32_t size, std::uint32_t* read,
                                std::uint32_t* needed) {
  Log* l = static_cast<Log*>(log);
  if (flags != (kEventLogSeekRead | kEventLogForwardsRead) || l->fail_reads ||
      number < l->oldest || number - l->oldest >= l->records.size()) {
    last_error = kErrorInvalidParameter;
    return false;
  }
  const std::vector<std::uint8_t>& r = l->records[number - l->oldest];
  if (r.size() > size) {
    *needed = static_cast<std::uint32_t>(r.size());
    last_error = kErrorInsufficientBuffer;
    return false;
  }
  std::memcpy(buffer, r.data(), r.size());
  *read = static_cast<std::uint32_t>(r.size());
  return true;
}

void FakeRegistry::Set(const std::string& machine, const std::string& key,
                       const std::string& name, std::uint32_t type,
                       const std::string& data) {
  machines_.insert(Upper(machine));
  keys_[Upper(machine + "|" + key)][Upper(name)] = {type, data};
}

long FakeRegistry::QueryValueEx(Key key, const char* value_name,
                                std::uint32_t* type, unsigned char* data,
                                std::uint32_t* size) {
  auto& values = keys_[*static_cast<std::string*>(key)];
  auto it = values.find(Upper(value_name));
  if (it == values.end()) return kErrorFileNotFound;
  const std::string& bytes = it->second.second;
  *type = it->second.first;
  bool fits = bytes.size() <= *size;
  if (fits) std::memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<std::uint32_t>(bytes.size());
  return fits ? kErrorSuccess : kErrorMoreData;
}

std::uint32_t FakeRegistry::ExpandEnvironmentStrings(const char* source,
                                                     char* destination,
                                                     std::uint32_t size) {
  std::string result(source);
  for (const auto& [name, value] : environment) {
    std::size_t at = Upper(result).find("%" + name + "%");
    if (at != result.npos) result.replace(at, name.size() + 2, value);
  }
  std::uint32_t needed = static_cast<std::uint32_t>(result.size() + 1);
  if (needed <= size) std::memcpy(destination, result.c_str(), needed);
  return needed;
}

std::uint32_t FakeMessages::FormatMessage(std::uint32_t flags, Module module,
                                          std::uint32_t message_id,
                                          std::uint32_t language_id,
                                          char** buffer,
                                          const char* const* arguments,
                                          std::uint32_t argument_count) {
  // Argument array, from the module, allocated buffer, maximum width.
  if (flags != (0x2000 | 0x0800 | 0x0100 | 0x00FF) || language_id != 0)
    return 0;
  auto* messages = static_cast<std::map<std::uint32_t, std::string>*>(module);
  auto it = messages->find(message_id);
  if (it == messages->end()) return 0;
  std::string text = it->second;
  for (std::uint32_t n = argument_count < 9 ? argument_count : 9; n > 0; --n) {
    const std::string mark = "%" + std::to_string(n);
    const std::string arg = arguments[n - 1];
    for (std::size_t at = 0; (at = text.find(mark, at)) != text.npos;) {
      text.replace(at, 2, arg);
      at += arg.size();
    }
  }
  *buffer = new char[text.size() + 1];
  std::memcpy(*buffer, text.c_str(), text.size() + 1);
  ++buffers;
  return static_cast<std::uint32_t>(text.size());
}

}  // namespace sentory
