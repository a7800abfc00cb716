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

// Files that refuse to open, as missing or as denied; or else open system
// files, counting the bytes read through them and the largest read.
struct TestFiles : FileAccess {
  struct File : LockedFile {
    std::unique_ptr<LockedFile> in;
    TestFiles* files;
    bool Size(std::uint64_t* size) override { return in->Size(size); }
    bool Stamp(FileStamp* stamp) override { return in->Stamp(stamp); }
    bool ReadAt(std::uint64_t at, void* buffer, std::size_t size) override {
      files->bytes += size;
      files->largest = std::max<std::uint64_t>(files->largest, size);
      return in->ReadAt(at, buffer, size);
    }
    bool WriteAt(std::uint64_t, const void*, std::size_t) override {
      return false;
    }
    bool Resize(std::uint64_t) override { return false; }
    bool Lock(bool exclusive) override { return in->Lock(exclusive); }
    void Unlock() override { in->Unlock(); }
  };
  std::unique_ptr<LockedFile> OpenFile(const std::string& path, Mode mode,
                                       bool* missing) override {
    *missing = refuse_as_missing;
    auto file = std::make_unique<File>();
    file->in = refuse ? nullptr : MakeSystemFileAccess()->Open(path, mode);
    file->files = this;
    if (!file->in) return nullptr;
    return file;
  }
  bool refuse = false, refuse_as_missing = false;
  std::uint64_t bytes = 0, largest = 0;
};

// A machine's logs by any spelling of its name, a missing log empty, seek
// reads as the platform answers them, bad names refused.
TEST(SiteEventLogTest, ServiceCalls) {
  fs::path site = NewSite("sentory-evt-site");
  fs::create_directories(site / "Server1");
  ASSERT_TRUE(WriteEvents(
      MakeSystemFileAccess()
          ->Open((site / "Server1" / "system.EVT").string(), Mode::kCreate)
          .get(),
      0, 1, 3));
  auto service = MakeSiteEventLog(MakeSystemFileAccess());
  EventLogService::Handle log = service->OpenEventLog("server1", "Security");
  std::uint32_t oldest = 9, count = 9, read = 0, needed = 0;
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(service->GetOldestEventLogRecord(log, &oldest) &&
              service->GetNumberOfEventLogRecords(log, &count));
  EXPECT_EQ(std::make_pair(oldest, count), std::make_pair(0u, 0u));
  EXPECT_TRUE(service->CloseEventLog(log));
  log = service->OpenEventLog("\\\\SERVER1", "System");
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(service->GetOldestEventLogRecord(log, &oldest) &&
              service->GetNumberOfEventLogRecords(log, &count));
  EXPECT_EQ(std::make_pair(oldest, count), std::make_pair(1u, 3u));
  const std::uint32_t kFlags = kEventLogSeekRead | kEventLogForwardsRead;
  std::vector<std::uint8_t> buffer(512);
  EXPECT_FALSE(
      service->ReadEventLog(log, kFlags, 3, buffer.data(), 64, &read, &needed));
  EXPECT_EQ(service->LastError(), kErrorInsufficientBuffer);
  ASSERT_GT(needed, 64u);
  const std::uint32_t size = needed;
  for (std::uint32_t n : {3u, 1u}) {
    ASSERT_TRUE(service->ReadEventLog(log, kFlags, n, buffer.data(), size,
                                      &read, &needed));
    ExpectSingleByteRecord(buffer, read, n);
  }
  for (std::uint32_t n : {0u, 4u}) {
    EXPECT_FALSE(service->ReadEventLog(log, kFlags, n, buffer.data(), 512,
                                       &read, &needed));
    EXPECT_EQ(service->LastError(), kErrorInvalidParameter);
    EXPECT_EQ(std::make_pair(read, needed), std::make_pair(0u, 0u));
  }
  EXPECT_TRUE(service->CloseEventLog(log));
  EXPECT_FALSE(service->CloseEventLog(log));
  for (const char* name : {"", "..\\System", "a/System"}) {
    EXPECT_EQ(service->OpenEventLog("Server1", name), nullptr) << name;
    EXPECT_EQ(service->LastError(), kErrorInvalidParameter);
  }
  // A log file gone before it was opened is an empty log; one that is there
  // but cannot be opened is no log, its access denied.
  for (bool missing : {true, false}) {
    auto files = std::make_unique<TestFiles>();
    files->refuse = true;
    files->refuse_as_missing = missing;
    auto refused = MakeSiteEventLog(std::move(files));
    log = refused->OpenEventLog("Server1", "System");
    ASSERT_EQ(log != nullptr, missing);
    if (missing) {
      EXPECT_TRUE(refused->GetNumberOfEventLogRecords(log, &count));
      EXPECT_EQ(count, 0u);
    } else {
      EXPECT_EQ(refused->LastError(), 5u);
    }
  }
}

// Machine folders found by any spelling of their names, with or without
// leading backslashes; the empty name finds the host's own.
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

// A damaged 4 MiB log (a header, then nothing) and a log of 5,000 records
// whose header's end offset lies at its start: each searched in pieces of
// at most 64 KiB once; at later opens, unchanged or one record longer (its
// modification time given back), only a few records' bytes read. A log
// written within the time its stamp cannot tell apart is looked at again.
TEST(SiteEventLogTest, LearnsEachLogOnce) {
  fs::path site = NewSite("sentory-evt-learn");
  fs::create_directories(site / "M1");
  const std::string path = (site / "M1" / "System.evt").string();
  fs::file_time_type time =
      fs::file_time_type::clock::now() - std::chrono::minutes(1);
  auto write = [&path, &time](std::uint32_t from, std::uint32_t to) {
    auto file = MakeSystemFileAccess()->Open(path, Mode::kCreate);
    ASSERT_TRUE(WriteEvents(file.get(), 0x400000, from, to));
    std::uint32_t start = kEvtHeaderSize;
    ASSERT_TRUE(file->WriteAt(20, &start, 4));  // the header's end offset
    fs::last_write_time(path, time);
  };
  for (bool damaged : {true, false}) {
    SCOPED_TRACE(damaged);
    fs::remove(path);
    write(1, 5000);
    if (damaged) {
      fs::resize_file(path, kEvtHeaderSize);
      fs::resize_file(path, 0x400000);
      fs::last_write_time(path, time);
    }
    auto owned = std::make_unique<TestFiles>();
    TestFiles* files = owned.get();
    auto service = MakeSiteEventLog(std::move(owned));
    for (int open = 0; open < 3; ++open) {
      if (open == 2 && !damaged) write(5001, 5001);
      files->bytes = files->largest = 0;
      EventLogService::Handle handle = service->OpenEventLog("M1", "System");
      std::uint32_t count = 0;
      EXPECT_EQ(handle == nullptr, damaged) << open;
      if (handle != nullptr) {
        EXPECT_TRUE(service->GetNumberOfEventLogRecords(handle, &count));
        EXPECT_EQ(count, open == 2 ? 5001u : 5000u);
        service->CloseEventLog(handle);
      }
      EXPECT_LE(files->largest, 0x10000u + kEvtEofSize) << open;
      EXPECT_LE(open > 0 ? files->bytes : 0, 0x400u) << open;
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
}

}  // namespace
}  // namespace sentory
