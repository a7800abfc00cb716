#ifndef SENTORY_EVENTLOG_LOG_ROTATION_H_
#define SENTORY_EVENTLOG_LOG_ROTATION_H_

#include <cstdint>
#include <vector>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "eventlog/blackout.h"
#include "eventlog/event_record.h"
#include "platform/event_log.h"

namespace sentory {

/// What NextEvent did.
enum class NextEventResult {
  kEvent = 0,     ///< a record was handed out
  kCaughtUp = 1,  ///< the pair holds no record after its cursor
  kBlackout = 2,  ///< reading is suspended
  kError = 3,     ///< the log could not be opened or read
};

/// Size of the log name buffers, terminator included.
constexpr std::size_t kLogNameSize = 32;
/// The first read's buffer; a larger record is read again at its own size.
constexpr std::uint32_t kFirstReadSize = 512;
/// A cursor that has not been set yet.
constexpr std::uint32_t kCursorUnset = 0xFFFFFFFF;

/// Per log and machine, the number of the last record handed out or taken
/// as seen.
class RecordCursorTable {
 public:
  /// Sets every entry to unset, with room for |machines| machines per log.
  void Reset(int machines);
  /// The entry of |log_name| ("Application", "System" or "Security") for
  /// machine |index|; nullptr for any other name or index.
  std::uint32_t* Entry(const char* log_name, int index);

 private:
  std::vector<std::uint32_t> application_, system_, security_;
};

/// Walks the watched (machine, log) pairs in their fixed cycle and hands out
/// the records written since each pair's cursor, one per call.
class LogRotation {
 public:
  LogRotation(const OptionTable& options, EventLogService& service,
              OutputStream& out, Blackout& blackout, RecordCursorTable& cursors)
      : options_(options),
        service_(service),
        out_(out),
        blackout_(blackout),
        cursors_(cursors) {}

  /// Hands out the next record through |record| and the log's name through
  /// |log_name| (kLogNameSize bytes), or ends the visit in progress.
  NextEventResult NextEvent(EventRecord* record, char* log_name);

  /// Moves to the next watched log and copies its name into |name|
  /// (kLogNameSize bytes); returns the new log index.
  int NextLogName(char* name);
  /// Moves to the next machine; returns the new machine index.
  int NextMachineIndex();
  /// The machine name of /M<index>, or nullptr.
  const char* MachineName(int index) const;

 private:
  NextEventResult EndVisit(NextEventResult result);
  bool Read(EventRecord* record, std::uint32_t size, std::uint32_t* needed);

  const OptionTable& options_;
  EventLogService& service_;
  OutputStream& out_;
  Blackout& blackout_;
  RecordCursorTable& cursors_;

  std::vector<const char*> watched_logs_;
  bool watched_logs_built_ = false;
  int log_index_ = -1;
  int machine_index_ = -1;
  char log_name_[kLogNameSize] = {};

  // The visit in progress: present while cursor_ is not null.
  std::uint32_t* cursor_ = nullptr;
  EventLogService::Handle handle_ = nullptr;
  std::uint32_t newest_ = 0;
};

}  // namespace sentory

#endif  // SENTORY_EVENTLOG_LOG_ROTATION_H_
