#include "eventlog/log_rotation.h"

#include <cstring>
#include <string>

namespace sentory {

void RecordCursorTable::Reset(int machines) {
  std::size_t count = machines > 0 ? static_cast<std::size_t>(machines) : 0;
  application_.assign(count, kCursorUnset);
  system_.assign(count, kCursorUnset);
  security_.assign(count, kCursorUnset);
}

std::uint32_t* RecordCursorTable::Entry(const char* log_name, int index) {
  std::vector<std::uint32_t>* array = nullptr;
  if (std::strcmp(log_name, "Application") == 0) {
    array = &application_;
  } else if (std::strcmp(log_name, "System") == 0) {
    array = &system_;
  } else if (std::strcmp(log_name, "Security") == 0) {
    array = &security_;
  }
  if (array == nullptr || index < 0 ||
      static_cast<std::size_t>(index) >= array->size()) {
    return nullptr;
  }
  return &(*array)[static_cast<std::size_t>(index)];
}

int LogRotation::NextLogName(char* name) {
  if (!watched_logs_built_) {
    watched_logs_built_ = true;
    if (options_.HasOption("/SYS")) watched_logs_.push_back("System");
    if (options_.HasOption("/SEC")) watched_logs_.push_back("Security");
    if (options_.HasOption("/APP")) watched_logs_.push_back("Application");
  }
  ++log_index_;
  if (log_index_ >= static_cast<int>(watched_logs_.size())) log_index_ = 0;
  const char* chosen =
      watched_logs_.empty()
          ? ""
          : watched_logs_[static_cast<std::size_t>(log_index_)];
  std::strncpy(name, chosen, kLogNameSize - 1);
  name[kLogNameSize - 1] = '\0';
  return log_index_;
}

int LogRotation::NextMachineIndex() {
  ++machine_index_;
  if (!options_.HasOption(OptionTable::NumberedKey("/M", machine_index_))) {
    machine_index_ = 0;
  }
  return machine_index_;
}

const char* LogRotation::MachineName(int index) const {
  return options_.OptionValue(OptionTable::NumberedKey("/M", index));
}

NextEventResult LogRotation::EndVisit(NextEventResult result) {
  service_.CloseEventLog(handle_);
  handle_ = nullptr;
  cursor_ = nullptr;
  return result;
}

bool LogRotation::Read(EventRecord* record, std::uint32_t size,
                       std::uint32_t* needed) {
  record->data = std::make_unique<std::uint8_t[]>(size);
  record->size = size;
  std::uint32_t bytes_read = 0;
  *needed = 0;
  return service_.ReadEventLog(
      handle_, kEventLogSeekRead | kEventLogForwardsRead, *cursor_ + 1,
      record->data.get(), size, &bytes_read, needed);
}

NextEventResult LogRotation::NextEvent(EventRecord* record, char* log_name) {
  if (cursor_ == nullptr) {
    if (NextLogName(log_name_) == 0) NextMachineIndex();
    const char* machine = MachineName(machine_index_);
    handle_ = service_.OpenEventLog(machine, log_name_);
    if (handle_ == nullptr) {
      out_.Line({"Unable to open ", log_name_, " log on ",
                 machine != nullptr ? machine : ""});
      return NextEventResult::kError;
    }
    std::uint32_t oldest = 0;
    std::uint32_t count = 0;
    std::uint32_t* cursor = cursors_.Entry(log_name_, machine_index_);
    if (!service_.GetOldestEventLogRecord(handle_, &oldest) ||
        !service_.GetNumberOfEventLogRecords(handle_, &count) ||
        cursor == nullptr) {
      service_.CloseEventLog(handle_);
      handle_ = nullptr;
      return NextEventResult::kError;
    }
    newest_ = count == 0 ? 0 : oldest + count - 1;
    cursor_ = cursor;
    if (*cursor_ == kCursorUnset) *cursor_ = newest_;
    // A cursor above the newest record means the log was cleared; one below
    // the oldest record minus one means the log wrapped past it. Either way
    // reading goes on at the oldest record that exists.
    std::uint32_t before_oldest = count == 0 ? 0 : oldest - 1;
    if (*cursor_ > newest_ || *cursor_ < before_oldest) {
      *cursor_ = before_oldest;
    }
  }

  if (blackout_.InBlackout()) return EndVisit(NextEventResult::kBlackout);
  if (*cursor_ == newest_) return EndVisit(NextEventResult::kCaughtUp);

  std::uint32_t needed = 0;
  bool ok = Read(record, kFirstReadSize, &needed);
  if (!ok && service_.LastError() == kErrorInsufficientBuffer && needed > 0) {
    ok = Read(record, needed, &needed);
  }
  if (!ok) {
    record->data.reset();
    record->size = 0;
    return EndVisit(NextEventResult::kError);
  }
  ++*cursor_;
  std::memcpy(log_name, log_name_, kLogNameSize);
  return NextEventResult::kEvent;
}

}  // namespace sentory
