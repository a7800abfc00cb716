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
#include "winformat/evt_file.h"
#include "winformat/site.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

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

// Given a site folder, the service should open a machine's logs by any
// spelling of its name, hold a missing log empty and answer seek reads as
// the platform does. (WatchTest sees a missing machine refused.)
TEST(SiteEventLogTest, ServiceCalls) {
  fs::path site = NewSite("sentory-evt-site");
  fs::create_directories(site / "Server1");
  {
    auto file = MakeSystemFileAccess()->Open(
        (site / "Server1" / "system.EVT").string(), FileAccess::Mode::kCreate);
    EvtWriter writer(file.get());
    ASSERT_TRUE(writer.Begin(0));
    for (std::uint32_t n = 1; n <= 3; ++n)
      ASSERT_TRUE(writer.Append(Numbered(n)));
    ASSERT_TRUE(writer.Finish());
  }
  auto service = MakeSiteEventLog(MakeSystemFileAccess());
  EventLogService::Handle empty = service->OpenEventLog("server1", "Security");
  ASSERT_NE(empty, nullptr);
  std::uint32_t oldest = 9, count = 9, read = 0, needed = 0;
  EXPECT_TRUE(service->GetOldestEventLogRecord(empty, &oldest));
  EXPECT_TRUE(service->GetNumberOfEventLogRecords(empty, &count));
  EXPECT_EQ(oldest, 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(service->CloseEventLog(empty));

  EventLogService::Handle log = service->OpenEventLog("\\\\SERVER1", "System");
  ASSERT_NE(log, nullptr);
  ASSERT_TRUE(service->GetOldestEventLogRecord(log, &oldest));
  ASSERT_TRUE(service->GetNumberOfEventLogRecords(log, &count));
  EXPECT_EQ(oldest, 1u);
  EXPECT_EQ(count, 3u);
  const std::uint32_t kFlags = kEventLogSeekRead | kEventLogForwardsRead;
  std::vector<std::uint8_t> small(64), big(512);
  EXPECT_FALSE(
      service->ReadEventLog(log, kFlags, 3, small.data(), 64, &read, &needed));
  EXPECT_EQ(service->LastError(), kErrorInsufficientBuffer);
  ASSERT_GT(needed, 64u);
  const std::uint32_t size = needed;
  for (std::uint32_t n : {3u, 1u}) {
    ASSERT_TRUE(service->ReadEventLog(log, kFlags, n, big.data(), size, &read,
                                      &needed));
    ExpectSingleByteRecord(big, read, n);
  }
  for (std::uint32_t n : {0u, 4u}) {
    EXPECT_FALSE(
        service->ReadEventLog(log, kFlags, n, big.data(), 512, &read, &needed));
    EXPECT_EQ(service->LastError(), kErrorInvalidParameter);
    EXPECT_EQ(std::make_pair(read, needed), std::make_pair(0u, 0u));
  }
  EXPECT_TRUE(service->CloseEventLog(log));
  EXPECT_FALSE(service->CloseEventLog(log));
  for (const char* name : {"", "..\\System", "a/System"}) {
    EXPECT_EQ(service->OpenEventLog("Server1", name), nullptr) << name;
    EXPECT_EQ(service->LastError(), kErrorInvalidParameter);
  }

  // A log file that vanished before it was opened is an empty log; one that
  // is there but cannot be opened is no log, its access denied.
  struct RefusingFiles : FileAccess {
    bool missing;
    explicit RefusingFiles(bool m) : missing(m) {}
    std::unique_ptr<LockedFile> OpenFile(const std::string&, Mode,
                                         bool* none) override {
      *none = missing;
      return nullptr;
    }
  };
  for (bool missing : {true, false}) {
    SCOPED_TRACE(missing);
    auto refused = MakeSiteEventLog(std::make_unique<RefusingFiles>(missing));
    log = refused->OpenEventLog("Server1", "System");
    EXPECT_EQ(log != nullptr, missing);
    if (!missing) {
      EXPECT_EQ(refused->LastError(), 5u);  // access denied
    }
    if (log != nullptr) {
      EXPECT_TRUE(refused->GetNumberOfEventLogRecords(log, &count));
      EXPECT_EQ(count, 0u);
      refused->CloseEventLog(log);
    }
  }
  std::error_code error;
  fs::remove_all(site, error);
}

// Given a site with machine folders in various cases, names should find
// them by any spelling, with or without leading backslashes, and the empty
// name should find the host's own folder.
TEST(SiteTest, FindsMachineFoldersByAnySpelling) {
  fs::path site = NewSite("sentory-site-test");
  fs::create_directories(site / "Server1");
  fs::create_directories(site / "server10");
  std::string host = HostName();
  ASSERT_FALSE(host.empty());
  fs::create_directories(site / host);
  ASSERT_EQ(SiteRoot(), site.string());

  const struct {
    const char* name;
    fs::path want;  // empty: no folder
  } kCases[] = {
      {"Server1", site / "Server1"},
      {"SERVER1", site / "Server1"},
      {"\\\\server1", site / "Server1"},
      {"Server10", site / "server10"},
      {"Server2", fs::path()},
      {"..", fs::path()},
      {"", site / host},
      {nullptr, site / host},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name == nullptr ? "(null)" : c.name);
    std::string found = MachineFolder(c.name);
    if (c.want.empty()) {
      EXPECT_EQ(found, "");
    } else {
      std::error_code error;
      EXPECT_TRUE(!found.empty() && fs::equivalent(found, c.want, error));
    }
  }
  std::error_code error;
  fs::remove_all(site, error);
}

// Files that count the bytes read through them and the largest single read.
struct CountingFiles : FileAccess {
  struct Counts {
    std::uint64_t bytes = 0, largest = 0;
  };
  struct File : LockedFile {
    File(std::unique_ptr<LockedFile> f, Counts* c)
        : inner(std::move(f)), counts(c) {}
    bool Size(std::uint64_t* size) override { return inner->Size(size); }
    bool Stamp(FileStamp* stamp) override { return inner->Stamp(stamp); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
      counts->bytes += size;
      counts->largest = std::max<std::uint64_t>(counts->largest, size);
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
    Counts* counts;
  };
  explicit CountingFiles(Counts* c) : counts(c) {}
  std::unique_ptr<LockedFile> OpenFile(const std::string& path, Mode mode,
                                       bool* missing) override {
    auto file = system->Open(path, mode, missing);
    if (!file) return nullptr;
    return std::make_unique<File>(std::move(file), counts);
  }
  std::unique_ptr<FileAccess> system = MakeSystemFileAccess();
  Counts* counts;
};

// Given a damaged 4 MiB log (a header, then nothing) and a log of 5,000
// records whose header's end offset lies at its start, the service should
// search each in pieces of at most 64 KiB, and at later opens, the file
// unchanged or one record longer, read no more than a few records' bytes.
// Every write gives the file the same modification time back, so only the
// end-of-file record tells the longer log; a log written within the time
// its stamp cannot tell apart is looked at again within one open.
TEST(SiteEventLogTest, LearnsEachLogOnce) {
  fs::path site = NewSite("sentory-evt-learn");
  fs::create_directories(site / "M1");
  const std::string path = (site / "M1" / "System.evt").string();
  fs::file_time_type time =
      fs::file_time_type::clock::now() - std::chrono::minutes(1);
  auto write = [&path, &time](std::uint32_t from, std::uint32_t to) {
    auto file = MakeSystemFileAccess()->Open(path, FileAccess::Mode::kCreate);
    EvtWriter writer(file.get());
    ASSERT_TRUE(writer.Begin(0x400000));
    for (std::uint32_t n = from; n <= to; ++n) {
      ASSERT_TRUE(writer.Append(Numbered(n % 50)));
    }
    ASSERT_TRUE(writer.Finish());
    std::uint32_t start = kEvtHeaderSize;
    ASSERT_TRUE(file->WriteAt(20, &start, 4));  // the header's end offset
    fs::last_write_time(path, time);
  };
  const struct {
    const char* name;
    bool damaged;
  } kLogs[] = {{"damaged", true}, {"stale header", false}};
  for (const auto& log : kLogs) {
    SCOPED_TRACE(log.name);
    fs::remove(path);
    write(1, 5000);
    if (log.damaged) {
      fs::resize_file(path, kEvtHeaderSize);
      fs::resize_file(path, 0x400000);
      fs::last_write_time(path, time);
    }
    CountingFiles::Counts counts;
    auto service = MakeSiteEventLog(std::make_unique<CountingFiles>(&counts));
    for (int open = 0; open < 3; ++open) {
      SCOPED_TRACE(open);
      if (open == 2 && !log.damaged) write(5001, 5001);
      counts = CountingFiles::Counts();
      EventLogService::Handle handle = service->OpenEventLog("M1", "System");
      EXPECT_EQ(handle == nullptr, log.damaged);
      std::uint32_t count = 0;
      if (handle != nullptr) {
        EXPECT_TRUE(service->GetNumberOfEventLogRecords(handle, &count));
        EXPECT_EQ(count, open == 2 ? 5001u : 5000u);
        service->CloseEventLog(handle);
      }
      EXPECT_LE(counts.largest, 0x10000u + kEvtEofSize);
      if (open > 0) {
        EXPECT_LE(counts.bytes, 0x400u);
      }
    }
  }
  time = fs::file_time_type::clock::now();
  fs::last_write_time(path, time);
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
