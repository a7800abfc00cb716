#ifndef SENTORY_EVENTLOG_EVENT_FILTER_H_
#define SENTORY_EVENTLOG_EVENT_FILTER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "app/output_stream.h"
#include "eventlog/event_record.h"
#include "platform/file_mapping.h"

namespace sentory {

/// The event types chosen with "/S": each slot holds one event type value
/// (1 error, 2 warning, 4 information, 8 audit success, 16 audit failure) or
/// 0 when unfilled.
struct SeveritySlots {
  static constexpr int kCount = 5;
  std::uint32_t slot[kCount] = {0, 0, 0, 0, 0};
};

/// Fills |slots| from the "/S" letters: the character at position i speaks
/// for slot i, E W I S F in either case store their type, any other
/// character leaves its slot 0. Characters after the fifth are ignored.
void ParseSeverities(const char* text, SeveritySlots* slots);

/// The skip file's entries, one a line: an event ID in decimal at the start
/// of the line (after any blanks), blanks, then the source name, which is
/// the rest of the line without its trailing blanks and CR. A UTF-8
/// byte-order mark before the first entry is passed over; a line that does
/// not begin with an ID from 0 to 65535 and a blank, or names no source,
/// is no entry. The entries are parsed once, into a table looked up by ID
/// and source, so a lookup costs the same however long the file is.
class SkipList {
 public:
  SkipList() = default;
  explicit SkipList(std::string text) { Assign(std::move(text)); }
  // The table points into text_, which must stay where it is.
  SkipList(const SkipList&) = delete;
  SkipList& operator=(const SkipList&) = delete;

  /// Replaces the text (the file's bytes as loaded) and parses its entries.
  void Assign(std::string text);
  /// True when an entry names exactly |event_id| and exactly |source|.
  bool Matches(std::uint16_t event_id, std::string_view source) const;
  /// The file's bytes as loaded.
  const std::string& text() const { return text_; }
  /// The number of distinct entries.
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::uint16_t id;
    std::string_view source;
    bool operator==(const Entry& other) const {
      return id == other.id && source == other.source;
    }
  };
  struct EntryHash {
    std::size_t operator()(const Entry& entry) const {
      return std::hash<std::string_view>()(entry.source) * 31u + entry.id;
    }
  };

  std::string text_;
  std::unordered_set<Entry, EntryHash> entries_;
};

/// Reads the skip file at |path| whole into |skip_list|, up to its first NUL
/// byte. On failure writes the line that says which step failed and returns
/// false; an empty file cannot be mapped and fails.
bool LoadSkipText(FileMapper& files, const char* path, OutputStream& out,
                  SkipList* skip_list);

/// True when |record| raises an alert: it is not in the skip list (when
/// there is one) and its type is one of the slots.
bool PassesFilter(const EventRecord& record, const SeveritySlots& slots,
                  const SkipList* skip_list);

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_EVENT_FILTER_H_
