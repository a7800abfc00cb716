#include "winformat/site_event_log.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "gtest/gtest.h"
#include "platform/event_log.h"
#include "platform/host_name.h"
#include "tests/support/evt_events.h"
#include "winformat/site.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;
using Mode = FileAccess::Mode;

// An empty site folder |name| in the temporary folder, made the site.
fs::path NewSite(const char* name) {
  fs::path site = fs::temp_directory_path() / name;
  fs::remove_all(site);
  fs::create_directories(site);
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
  return site;
}

// Files that refuse to open, as missing or as there but denied.
struct RefusingFiles : FileAccess {
  explicit RefusingFiles(bool m) : missing(m) {}
  std::unique_ptr<LockedFile> OpenFile(const std::string&, Mode,
                                       bool* none) override {
    *none = missing;
    return nullptr;
  }
  bool missing;
};

// Logs by any spelling of the machine, a missing one empty, seek reads.
TEST(SiteEventLogTest, ServiceCalls) {
  fs::path site = NewSite("sentory-evt-site");
  fs::create_directories(site / "Server1");
  auto file = MakeSystemFileAccess()->Open(
      (site / "Server1" / "system.EVT").string(), Mode::kCreate);
  ASSERT_TRUE(WriteEvents(file.get(), 0, 1, 3));
  file.reset();
  auto service = MakeSiteEventLog(MakeSystemFileAccess());
  auto counts = [&service](EventLogService::Handle log) {
    std::uint32_t oldest = 9, count = 9;
    EXPECT_TRUE(service->GetOldestEventLogRecord(log, &oldest) &&
                service->GetNumberOfEventLogRecords(log, &count));
    return std::make_pair(oldest, count);
  };
  EventLogService::Handle log = service->OpenEventLog("server1", "Security");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(counts(log), std::make_pair(0u, 0u));
  EXPECT_TRUE(service->CloseEventLog(log));
  ASSERT_NE(log = service->OpenEventLog("\\\\SERVER1", "System"), nullptr);
  EXPECT_EQ(counts(log), std::make_pair(1u, 3u));
  // Each row: the record, the buffer's size, the error (0: read).
  const std::uint32_t kReads[][3] = {{3, 64, kErrorInsufficientBuffer},
                                     {3, 0, 0},
                                     {1, 0, 0},
                                     {0, 512, kErrorInvalidParameter},
                                     {4, 512, kErrorInvalidParameter}};
  std::vector<std::uint8_t> buffer(512);
  std::uint32_t read = 7, needed = 7, size = 0;
  for (const auto& r : kReads) {
    bool ok = service->ReadEventLog(
        log, kEventLogSeekRead | kEventLogForwardsRead, r[0], buffer.data(),
        r[1] != 0 ? r[1] : size, &read, &needed);
    EXPECT_EQ(ok ? 0 : service->LastError(), r[2]) << r[0];
    if (ok) ExpectSingleByteRecord(buffer, read, r[0]);
    if (r[2] == kErrorInsufficientBuffer) size = needed;
    if (r[2] == kErrorInvalidParameter) {
      EXPECT_EQ(std::make_pair(read, needed), std::make_pair(0u, 0u));
    }
  }
  EXPECT_GT(size, 64u);
  EXPECT_TRUE(service->CloseEventLog(log));
  EXPECT_FALSE(service->CloseEventLog(log));
  for (const char* name : {"", "..\\System", "a/System"}) {
    EXPECT_EQ(service->OpenEventLog("Server1", name), nullptr) << name;
    EXPECT_EQ(service->LastError(), kErrorInvalidParameter);
  }
  // A log file gone is an empty log; one not to be opened is access denied.
  for (bool missing : {true, false}) {
    service = MakeSiteEventLog(std::make_unique<RefusingFiles>(missing));
    log = service->OpenEventLog("Server1", "System");
    ASSERT_EQ(log != nullptr, missing);
    if (missing) {
      EXPECT_EQ(counts(log), std::make_pair(0u, 0u));
    } else {
      EXPECT_EQ(service->LastError(), 5u);
    }
  }
}

// Machine folders by any spelling; the empty name finds the host's own.
TEST(SiteTest, FindsMachineFoldersByAnySpelling) {
  fs::path site = NewSite("sentory-site-test");
  std::string host = HostName();
  ASSERT_FALSE(host.empty());
  for (const char* name : {"Server1", "server10", host.c_str()}) {
    fs::create_directories(site / name);
  }
  ASSERT_EQ(SiteRoot(), site.string());
  const struct {
    const char* name;
    fs::path want;  // empty: no folder
  } kCases[] = {{"Server1", site / "Server1"},
                {"SERVER1", site / "Server1"},
                {"\\\\server1", site / "Server1"},
                {"Server10", site / "server10"},
                {"Server2", fs::path()},
                {"..", fs::path()},
                {"", site / host},
                {nullptr, site / host}};
  for (const auto& c : kCases) {
    std::string found = MachineFolder(c.name);
    std::error_code error;
    EXPECT_TRUE(c.want.empty() ? found.empty()
                               : fs::equivalent(found, c.want, error))
        << (c.name == nullptr ? "(null)" : c.name) << " " << found;
  }
}

// Counts the bytes read through its files and the largest single read.
struct CountingFiles : FileAccess {
  struct File : LockedFile {
    File(std::unique_ptr<LockedFile> f, CountingFiles* o)
        : inner(std::move(f)), owner(o) {}
    bool Size(std::uint64_t* size) override { return inner->Size(size); }
    bool Stamp(FileStamp* stamp) override { return inner->Stamp(stamp); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
      owner->bytes += size;
      owner->largest = std::max<std::uint64_t>(owner->largest, size);
      return inner->ReadAt(offset, buffer, size);
    }
    bool WriteAt(std::uint64_t offset, const void* data,
                 std::size_t size) override {
      return inner->WriteAt(offset, data, size);
    }
    bool Resize(std::uint64_t size) override { return inner->Resize(size); }
    bool Lock(bool exclusive) override { return inner->Lock(exclusive); }
    void Unlock() override { inner->Unlock(); }
    std::unique_ptr<LockedFile> inner;
    CountingFiles* owner;
  };
  std::unique_ptr<LockedFile> OpenFile(const std::string& path, Mode mode,
                                       bool* missing) override {
    auto file = system->Open(path, mode, missing);
    if (!file) return nullptr;
    return std::make_unique<File>(std::move(file), this);
  }
  std::unique_ptr<FileAccess> system = MakeSystemFileAccess();
  std::uint64_t bytes = 0, largest = 0;
};

// A visit's cost does not grow with the log: a damaged 4 MiB log and a log
// of 5,000 records whose header is stale are searched in pieces of at most
// 64 KiB, and later opens of the same file, unchanged or one record longer
// at the same modification time, read only a few records' bytes.  A log
// written within the time its stamp cannot tell apart is looked at again.
TEST(SiteEventLogTest, LearnsEachLogOnce) {
  fs::path site = NewSite("sentory-evt-learn");
  fs::create_directories(site / "M1");
  const std::string path = (site / "M1" / "System.evt").string();
  auto time = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  auto write = [&path, &time](std::uint32_t from, std::uint32_t to) {
    auto file = MakeSystemFileAccess()->Open(path, Mode::kCreate);
    ASSERT_TRUE(WriteEvents(file.get(), 0x400000, from, to));
    std::uint32_t start = kEvtHeaderSize;
    ASSERT_TRUE(file->WriteAt(20, &start, 4));  // the header's end offset
    fs::last_write_time(path, time);
  };
  for (bool damaged : {true, false}) {
    SCOPED_TRACE(damaged ? "damaged" : "stale header");
    fs::remove(path);
    write(1, 5000);
    if (damaged) {
      fs::resize_file(path, kEvtHeaderSize);
      fs::resize_file(path, 0x400000);
      fs::last_write_time(path, time);
    }
    auto files = std::make_unique<CountingFiles>();
    CountingFiles* counts = files.get();
    auto service = MakeSiteEventLog(std::move(files));
    for (int open = 0; open < 3; ++open) {
      SCOPED_TRACE(open);
      if (open == 2 && !damaged) write(5001, 5001);
      counts->bytes = counts->largest = 0;
      EventLogService::Handle handle = service->OpenEventLog("M1", "System");
      ASSERT_EQ(handle == nullptr, damaged);
      std::uint32_t count = 0;
      if (handle != nullptr) {
        EXPECT_TRUE(service->GetNumberOfEventLogRecords(handle, &count));
        EXPECT_EQ(count, open == 2 ? 5001u : 5000u);
        service->CloseEventLog(handle);
      }
      EXPECT_LE(counts->largest, 0x10000u + kEvtEofSize);
      if (open > 0) {
        EXPECT_LE(counts->bytes, 0x400u);
      }
    }
  }
  fs::last_write_time(path, time = fs::file_time_type::clock::now());
  auto service = MakeSiteEventLog(MakeSystemFileAccess());
  EventLogService::Handle handle = service->OpenEventLog("M1", "System");
  write(5002, 5002);
  std::uint32_t count = 0;
  EXPECT_TRUE(service->GetNumberOfEventLogRecords(handle, &count));
  EXPECT_EQ(count, 5002u);
  service->CloseEventLog(handle);
  std::error_code error;
  fs::remove_all(site, error);
}

}  // namespace
}  // namespace sentory
