#include "winformat/site_event_log.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "winformat/evt_file.h"
#include "winformat/site.h"

namespace sentory {
namespace {

// The platform's codes for the failures this service reports besides the
// ones the program tells apart.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorBadNetPath = 53;
constexpr std::uint32_t kErrorFileCorrupt = 1500;

thread_local std::uint32_t last_error = 0;

bool Fail(std::uint32_t code) {
  last_error = code;
  return false;
}

class SiteEventLog : public EventLogService {
 public:
  explicit SiteEventLog(std::unique_ptr<FileAccess> files)
      : files_(std::move(files)) {}

  Handle OpenEventLog(const char* server, const char* source) override {
    std::string folder = MachineFolder(server);
    if (folder.empty()) {
      Fail(kErrorBadNetPath);
      return nullptr;
    }
    std::string log = source != nullptr ? source : "";
    if (log.empty() || log.find_first_of("/\\") != std::string::npos) {
      Fail(kErrorInvalidParameter);
      return nullptr;
    }
    // Only a log file that is not there is an empty log; one that is there
    // but cannot be opened, or a folder that cannot be looked into, is a
    // log that cannot be read now.
    bool failed = false;
    std::string path = FindNoCase(folder, log + ".evt", &failed);
    if (failed) {
      Fail(kErrorAccessDenied);
      return nullptr;
    }
    std::unique_ptr<LockedFile> file;
    if (!path.empty()) {
      bool missing = false;
      file = files_->Open(path, FileAccess::Mode::kRead, &missing);
      if (file == nullptr && !missing) {
        Fail(kErrorAccessDenied);
        return nullptr;
      }
    }
    // What was learnt of the file at its last open serves again, checked
    // against the file by Refresh().
    FileStamp stamp;
    bool known = file != nullptr && file->Stamp(&stamp);
    std::unique_ptr<EvtReader> reader;
    if (known) reader = TakeLearnt(stamp);
    if (reader) {
      reader->Reopen(std::move(file));
    } else {
      reader = std::make_unique<EvtReader>(std::move(file));
    }
    bool ok = reader->Refresh(known ? &stamp : nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    if (!ok) {
      if (known) Keep(stamp, std::move(reader));
      Fail(kErrorFileCorrupt);
      return nullptr;
    }
    if (known) identity_[reader.get()] = stamp;
    return *open_.insert(reader.release()).first;
  }

  bool GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) override {
    EvtReader* reader = Find(log);
    if (reader == nullptr) return Fail(kErrorInvalidHandle);
    if (!reader->RefreshIfChanged()) return Fail(kErrorFileCorrupt);
    *oldest = reader->oldest();
    return true;
  }

  bool GetNumberOfEventLogRecords(Handle log, std::uint32_t* count) override {
    EvtReader* reader = Find(log);
    if (reader == nullptr) return Fail(kErrorInvalidHandle);
    if (!reader->RefreshIfChanged()) return Fail(kErrorFileCorrupt);
    *count = reader->count();
    return true;
  }

  bool ReadEventLog(Handle log, std::uint32_t flags,
                    std::uint32_t record_number, void* buffer,
                    std::uint32_t size, std::uint32_t* bytes_read,
                    std::uint32_t* bytes_needed) override {
    EvtReader* reader = Find(log);
    if (reader == nullptr) return Fail(kErrorInvalidHandle);
    *bytes_read = 0;
    *bytes_needed = 0;
    // Only the reads the program makes: one record by number, forwards.
    if (flags != (kEventLogSeekRead | kEventLogForwardsRead) ||
        (buffer == nullptr && size != 0)) {
      return Fail(kErrorInvalidParameter);
    }
    switch (reader->ReadRecord(record_number, buffer, size, bytes_read,
                               bytes_needed)) {
      case EvtReader::Result::kOk:
        return true;
      case EvtReader::Result::kMissing:
        return Fail(kErrorInvalidParameter);
      case EvtReader::Result::kTooSmall:
        return Fail(kErrorInsufficientBuffer);
      case EvtReader::Result::kCorrupt:
        break;
    }
    return Fail(kErrorFileCorrupt);
  }

  bool CloseEventLog(Handle log) override {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = open_.find(static_cast<EvtReader*>(log));
    if (it == open_.end()) return Fail(kErrorInvalidHandle);
    std::unique_ptr<EvtReader> reader(*it);
    open_.erase(it);
    auto identity = identity_.find(reader.get());
    if (identity != identity_.end()) {
      Keep(identity->second, std::move(reader));
      identity_.erase(identity);
    }
    return true;
  }

  std::uint32_t LastError() override { return last_error; }

  ~SiteEventLog() override {
    for (EvtReader* reader : open_) delete reader;
  }

 private:
  EvtReader* Find(Handle log) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = open_.find(static_cast<EvtReader*>(log));
    return it == open_.end() ? nullptr : *it;
  }

  using Identity = std::pair<std::uint64_t, std::uint64_t>;

  std::unique_ptr<EvtReader> TakeLearnt(const FileStamp& stamp) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = learnt_.find(Identity(stamp.device, stamp.inode));
    if (it == learnt_.end()) return nullptr;
    std::unique_ptr<EvtReader> reader = std::move(it->second.reader);
    learnt_.erase(it);
    return reader;
  }

  // Keeps what |reader| learnt of its file, closed, for the file's next
  // open; the least recently used are dropped beyond kMaxLearnt. Called
  // with mutex_ held.
  void Keep(const FileStamp& stamp, std::unique_ptr<EvtReader> reader) {
    reader->Release();
    learnt_[Identity(stamp.device, stamp.inode)] = {++uses_, std::move(reader)};
    if (learnt_.size() <= kMaxLearnt) return;
    auto oldest = learnt_.begin();
    for (auto it = learnt_.begin(); it != learnt_.end(); ++it) {
      if (it->second.use < oldest->second.use) oldest = it;
    }
    learnt_.erase(oldest);
  }

  struct Learnt {
    std::uint64_t use = 0;
    std::unique_ptr<EvtReader> reader;
  };
  static constexpr std::size_t kMaxLearnt = 1024;

  std::unique_ptr<FileAccess> files_;
  std::mutex mutex_;
  std::set<EvtReader*> open_;
  std::map<EvtReader*, FileStamp> identity_;
  std::map<Identity, Learnt> learnt_;
  std::uint64_t uses_ = 0;
};

}  // namespace

std::unique_ptr<EventLogService> MakeSiteEventLog(
    std::unique_ptr<FileAccess> files) {
  return std::make_unique<SiteEventLog>(std::move(files));
}

std::string EventLogPath(const std::string& folder, const std::string& log) {
  std::string found = FindNoCase(folder, log + ".evt");
  if (!found.empty()) return found;
  return (std::filesystem::path(folder) / (log + ".evt")).string();
}

}  // namespace sentory
