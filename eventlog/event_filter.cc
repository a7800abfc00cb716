#include "eventlog/event_filter.h"

#include <cstring>

namespace sentory {
namespace {

bool IsWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

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
                  std::string* skip_text) {
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
  skip_text->assign(view, length);
  files.UnmapViewOfFile(view);
  files.CloseHandle(mapping);
  files.CloseHandle(file);
  return true;
}

bool SkipTextMatches(std::string_view skip_text, std::uint16_t event_id,
                     std::string_view source) {
  if (source.empty()) return false;
  const std::string id = std::to_string(event_id);
  const std::size_t size = skip_text.size();
  for (std::size_t pos = skip_text.find(id); pos != std::string_view::npos;
       pos = skip_text.find(id, pos + 1)) {
    std::size_t p = pos + id.size();
    bool whole_word = (pos == 0 || IsWhitespace(skip_text[pos - 1])) &&
                      p < size && IsWhitespace(skip_text[p]);
    if (!whole_word) continue;
    while (p < size && IsWhitespace(skip_text[p])) ++p;
    if (skip_text.compare(p, source.size(), source) != 0) continue;
    std::size_t after = p + source.size();
    if (after == size || IsWhitespace(skip_text[after])) return true;
  }
  return false;
}

bool PassesFilter(const EventRecord& record, const SeveritySlots& slots,
                  const std::string* skip_text) {
  EventLogRecord header = record.Header();
  if (skip_text != nullptr &&
      SkipTextMatches(*skip_text, static_cast<std::uint16_t>(header.EventID),
                      record.SourceName())) {
    return false;
  }
  for (std::uint32_t slot : slots.slot) {
    if (static_cast<std::uint32_t>(header.EventType) == slot) return true;
  }
  return false;
}

}  // namespace sentory
