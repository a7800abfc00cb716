#include "eventlog/event_filter.h"

#include <cstring>

namespace sentory {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::uint32_t kLargestId = 0xFFFF;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void ParseSeverities(const char* text, SeveritySlots* slots) {
  for (int i = 0; i < SeveritySlots::kCount && text[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    switch (c) {
      case 'E':
        slots->slot[i] = 1;
        break;
      case 'W':
        slots->slot[i] = 2;
        break;
      case 'I':
        slots->slot[i] = 4;
        break;
      case 'S':
        slots->slot[i] = 8;
        break;
      case 'F':
        slots->slot[i] = 16;
        break;
      default:
        break;
    }
  }
}

bool LoadSkipText(FileMapper& files, const char* path, OutputStream& out,
                  SkipList* skip_list) {
  FileMapper::Handle file = files.OpenFile(path);
  if (file == nullptr) {
    out.Line({"Could not open create file ", path});
    return false;
  }
  FileMapper::Handle mapping = files.CreateFileMapping(file);
  if (mapping == nullptr) {
    files.CloseHandle(file);
    out.Line({"Could not create file-mapping object for ", path});
    return false;
  }
  std::size_t size = 0;
  const char* view = files.MapViewOfFile(mapping, &size);
  if (view == nullptr) {
    files.CloseHandle(mapping);
    files.CloseHandle(file);
    out.Line({"Could not map view of file ", path});
    return false;
  }
  const void* nul = std::memchr(view, '\0', size);
  std::size_t length =
      nul == nullptr
          ? size
          : static_cast<std::size_t>(static_cast<const char*>(nul) - view);
  std::string text(view, length);
  files.UnmapViewOfFile(view);
  files.CloseHandle(mapping);
  files.CloseHandle(file);
  skip_list->Assign(std::move(text));
  return true;
}

void SkipList::Assign(std::string text) {
  entries_.clear();
  text_ = std::move(text);
  std::string_view rest = text_;
  if (rest.substr(0, 3) == kByteOrderMark) rest.remove_prefix(3);
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    std::size_t p = 0;
    while (p < line.size() && IsBlank(line[p])) ++p;
    std::uint32_t id = 0;
    std::size_t digits = p;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9' &&
           id <= kLargestId) {
      id = id * 10 + static_cast<std::uint32_t>(line[p] - '0');
      ++p;
    }
    if (p == digits || id > kLargestId || p == line.size() ||
        !IsBlank(line[p])) {
      continue;
    }
    while (p < line.size() && IsBlank(line[p])) ++p;
    std::size_t last = line.size();
    while (last > p && (IsBlank(line[last - 1]) || line[last - 1] == '\r')) {
      --last;
    }
    if (last == p) continue;
    entries_.insert(
        Entry{static_cast<std::uint16_t>(id), line.substr(p, last - p)});
  }
}

bool SkipList::Matches(std::uint16_t event_id, std::string_view source) const {
  return entries_.count(Entry{event_id, source}) != 0;
}

bool PassesFilter(const EventRecord& record, const SeveritySlots& slots,
                  const SkipList* skip_list) {
  EventLogRecord header = record.Header();
  if (skip_list != nullptr &&
      skip_list->Matches(static_cast<std::uint16_t>(header.EventID),
                         record.SourceName())) {
    return false;
  }
  for (std::uint32_t slot : slots.slot) {
    if (static_cast<std::uint32_t>(header.EventType) == slot) return true;
  }
  return false;
}

}  // namespace sentory
