#include "platform/evt_file.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include "gtest/gtest.h"
#include "platform/event_log.h"
#include "platform/site.h"
#include "platform/site_event_log.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// The bytes of a real log in shared/testdata/evt beside the repository (or
// beside one of the folders that hold it); empty when there is none. Under
// Wine, the Unix path of this file is reached through drive Z:.
std::string RealLogBytes(const std::string& name) {
  std::string file = __FILE__;
  if (fs::path::preferred_separator == '\\' && file[0] == '/') {
    file = "Z:" + file;
  }
  for (fs::path at = fs::path(file).parent_path(); at != at.parent_path();
       at = at.parent_path()) {
    std::ifstream in(at / "shared" / "testdata" / "evt" / name,
                     std::ios::binary);
    if (in) return std::string(std::istreambuf_iterator<char>(in), {});
  }
  return "";
}

std::uint32_t Get32(const void* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Checks that |record| is a whole single-byte record of |number|: every
// offset and length inside it, every text terminated where it must be.
void ExpectSingleByteRecord(const std::vector<std::uint8_t>& buffer,
                            std::uint32_t read, std::uint32_t number) {
  ASSERT_GE(read, sizeof(EventLogRecord) + 4);
  EventLogRecord r;
  std::memcpy(&r, buffer.data(), sizeof(r));
  EXPECT_EQ(r.Length, read);
  EXPECT_EQ(Get32(&buffer[read - 4]), read);
  EXPECT_EQ(r.Reserved, kEvtSignature);
  EXPECT_EQ(r.RecordNumber, number);
  const char* text = reinterpret_cast<const char*>(buffer.data());
  std::size_t source = std::strlen(text + sizeof(r));
  std::size_t computer = std::strlen(text + sizeof(r) + source + 1);
  EXPECT_LE(sizeof(r) + source + 1 + computer + 1, r.UserSidOffset);
  EXPECT_LE(r.UserSidOffset + r.UserSidLength, r.StringOffset);
  std::size_t at = r.StringOffset;
  for (int i = 0; i < r.NumStrings; ++i) {
    ASSERT_LT(at, r.DataOffset);
    at += std::strlen(text + at) + 1;
  }
  EXPECT_LE(at, r.DataOffset);
  EXPECT_LE(r.DataOffset + r.DataLength, read - 4);
}

struct RealLog {
  const char* file;
  std::uint32_t first, last;
};

// Given each real log, we should find its records by the end-of-file
// record, read every one of them whole, and nothing beyond them. The
// wrapped log's record 1572 is split across the end of the file.
TEST(EvtFileTest, ReadsRealLogs) {
  const RealLog kLogs[] = {{"clean-TestLog.evt", 1, 5},
                           {"dirty-TestLog.evt", 1, 5},
                           {"stale-header-AppEvent.Evt", 1, 121},
                           {"wrapped-SysEvent.Evt", 1392, 7454}};
  for (const RealLog& log : kLogs) {
    SCOPED_TRACE(log.file);
    std::string bytes = RealLogBytes(log.file);
    if (bytes.empty()) GTEST_SKIP() << "no shared/testdata/evt";
    EvtReader reader(MakeMemoryFile(bytes));
    ASSERT_TRUE(reader.Refresh());
    EXPECT_EQ(reader.oldest(), log.first);
    EXPECT_EQ(reader.count(), log.last - log.first + 1);
    std::vector<std::uint8_t> buffer(0x10000);
    std::uint32_t read = 0, needed = 0;
    for (std::uint32_t n = log.first; n <= log.last; ++n) {
      ASSERT_EQ(reader.ReadRecord(n, buffer.data(), 0x10000, &read, &needed),
                EvtReader::Result::kOk)
          << n;
      ExpectSingleByteRecord(buffer, read, n);
    }
    for (std::uint32_t n : {log.first - 1, log.last + 1}) {
      EXPECT_EQ(reader.ReadRecord(n, buffer.data(), 0x10000, &read, &needed),
                EvtReader::Result::kMissing);
    }
  }
}

// Given a log whose slack after the end-of-file record holds a well-formed
// record numbered next, we should never take it for part of the log, even
// when the header claims it.
TEST(EvtFileTest, NeverReadsPastTheEndOfFileRecord) {
  std::string bytes = RealLogBytes("clean-TestLog.evt");
  if (bytes.empty()) GTEST_SKIP() << "no shared/testdata/evt";
  std::uint32_t eof = Get32(&bytes[20]);
  // Record 5 again as record 6, after the end-of-file record.
  std::uint32_t at = 0x30;
  for (int n = 1; n < 5; ++n) at += Get32(&bytes[at]);
  std::string six = bytes.substr(at, Get32(&bytes[at]));
  six[8] = 6;
  bytes += six;
  std::uint32_t claimed = eof + 0x28 + static_cast<std::uint32_t>(six.size());
  std::memcpy(&bytes[20], &claimed, 4);  // a stale header's end offset
  EvtReader reader(MakeMemoryFile(bytes));
  ASSERT_TRUE(reader.Refresh());
  EXPECT_EQ(reader.count(), 5u);
  EvtEvent event;
  EXPECT_EQ(reader.ReadEvent(6, &event), EvtReader::Result::kMissing);
}

EvtEvent Numbered(std::uint32_t n) {
  EvtEvent e;
  e.time_generated = e.time_written = 1000000 + n;
  e.event_id = 0xC0000000u | n;
  e.type = static_cast<std::uint16_t>(1u << (n % 5));
  e.category = static_cast<std::uint16_t>(n);
  e.source = "Source" + std::to_string(n);
  e.computer = "HOST";
  e.strings = {std::to_string(n), std::string(n % 97, 'x'), ""};
  e.data.assign(n % 13, static_cast<std::uint8_t>(n));
  return e;
}

// The fields of an event that the log keeps, to compare events read back.
auto Fields(const EvtEvent& e) {
  return std::tie(e.time_generated, e.time_written, e.event_id, e.type,
                  e.category, e.source, e.computer, e.strings, e.data);
}

// Given events written to a small log until it wraps many times over, we
// should read back the newest ones exactly, oldest dropped whole, and a
// record split across the end of the file among them.
TEST(EvtFileTest, WriterRoundTripsAndWraps) {
  auto file = MakeMemoryFile("");
  EvtWriter writer(file.get());
  ASSERT_TRUE(writer.Begin(1000));  // rounded up to 64 KiB
  bool split = false;
  const std::uint32_t kEvents = 3000;
  for (std::uint32_t n = 1; n <= kEvents; ++n) {
    std::uint32_t end = writer.state().end;
    ASSERT_TRUE(writer.Append(Numbered(n)));
    split = split || writer.state().end < end;
  }
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(MemoryFileBytes(*file).size(), 0x10000u);
  EXPECT_TRUE(split);
  EvtReader reader(MakeMemoryFile(MemoryFileBytes(*file)));
  ASSERT_TRUE(reader.Refresh());
  ASSERT_GT(reader.count(), 100u);
  EXPECT_EQ(reader.oldest() + reader.count(), kEvents + 1);
  for (std::uint32_t n = reader.oldest(); n <= kEvents; ++n) {
    EvtEvent got;
    ASSERT_EQ(reader.ReadEvent(n, &got), EvtReader::Result::kOk) << n;
    EXPECT_EQ(Fields(got), Fields(Numbered(n)));
  }
}

// Given texts outside Windows-1252, the single-byte record should carry '?'
// for them and the code page's own bytes for the rest.
TEST(EvtFileTest, RebuildsTextsInWindows1252) {
  auto file = MakeMemoryFile("");
  EvtWriter writer(file.get());
  ASSERT_TRUE(writer.Begin(0));
  EvtEvent e = Numbered(1);
  e.source = "S\xC3\xA9";                              // é
  e.computer = "\xE2\x82\xAC\xE2\x80\x9C";             // € “
  e.strings = {"\xD0\x96\xF0\x9F\x98\x80!", "plain"};  // Ж 😀 !
  ASSERT_TRUE(writer.Append(e));
  ASSERT_TRUE(writer.Finish());
  EvtReader reader(MakeMemoryFile(MemoryFileBytes(*file)));
  std::vector<std::uint8_t> buffer(512);
  std::uint32_t read = 0, needed = 0;
  ASSERT_EQ(reader.ReadRecord(1, buffer.data(), 512, &read, &needed),
            EvtReader::Result::kOk);
  ExpectSingleByteRecord(buffer, read, 1);
  const char* r = reinterpret_cast<const char*>(buffer.data());
  EXPECT_STREQ(r + 56, "S\xE9");
  EXPECT_STREQ(r + 59, "\x80\x93");
  EXPECT_STREQ(r + Get32(r + 36),
               "?"
               "?!");
  EXPECT_EQ(reader.ReadRecord(1, buffer.data(), read - 1, &read, &needed),
            EvtReader::Result::kTooSmall);
  EXPECT_EQ(needed, Get32(r));
}

// Given a writer that has appended but not finished, the header should be
// dirty and a reader should find every record; clearing should start the
// numbers again at 1.
TEST(EvtFileTest, DirtyHeaderAndClear) {
  auto file = MakeMemoryFile("");
  {
    EvtWriter writer(file.get());
    ASSERT_TRUE(writer.Begin(0));
    ASSERT_TRUE(writer.Append(Numbered(1)));
    ASSERT_TRUE(writer.Finish());
  }
  EvtWriter writer(file.get());
  ASSERT_TRUE(writer.Begin(0));
  ASSERT_TRUE(writer.Append(Numbered(2)));
  const std::string& bytes = MemoryFileBytes(*file);
  EXPECT_EQ(Get32(&bytes[36]) & kEvtFlagDirty, kEvtFlagDirty);
  EXPECT_EQ(Get32(&bytes[24]), 3u);  // the next number
  EvtReader reader(MakeMemoryFile(bytes));
  ASSERT_TRUE(reader.Refresh());
  EXPECT_EQ(reader.count(), 2u);
  ASSERT_TRUE(writer.Clear());
  ASSERT_TRUE(writer.Append(Numbered(3)));
  ASSERT_TRUE(writer.Finish());
  EvtReader after(MakeMemoryFile(MemoryFileBytes(*file)));
  ASSERT_TRUE(after.Refresh());
  EXPECT_EQ(after.oldest(), 1u);
  EXPECT_EQ(after.count(), 1u);
  EvtEvent got;
  ASSERT_EQ(after.ReadEvent(1, &got), EvtReader::Result::kOk);
  EXPECT_EQ(Fields(got), Fields(Numbered(3)));
}

// Given a writer appending through its own handle while a reader follows
// through another, every record the reader sees should be whole and right.
TEST(EvtFileTest, ReaderFollowsAWriterAtOnce) {
  fs::path dir = fs::temp_directory_path() / "sentory-evt-concurrent";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string path = (dir / "System.evt").string();
  auto files = MakeSystemFileAccess();
  const std::uint32_t kEvents = 400;
  std::atomic<bool> writer_done{false};
  std::thread write([&] {
    struct Done {
      std::atomic<bool>* done;
      ~Done() { *done = true; }
    } done{&writer_done};
    auto file = files->Open(path, FileAccess::Mode::kCreate);
    for (std::uint32_t n = 1; file && n <= kEvents; ++n) {
      EvtWriter writer(file.get());
      if (!writer.Begin(0x10000) || !writer.Append(Numbered(n)) ||
          !writer.Finish()) {
        ADD_FAILURE() << "write " << n;
        return;
      }
    }
  });
  std::uint32_t seen = 0;  // the last record read
  std::unique_ptr<EvtReader> reader;
  // The reader's bound: once the writer has ended, one more look must find
  // every record, so a writer that stopped early fails the test.
  bool last_look = false;
  while (seen < kEvents) {
    if (last_look) {
      ADD_FAILURE() << "the writer ended after record " << seen;
      break;
    }
    last_look = writer_done;
    if (!reader) {
      auto file = files->Open(path, FileAccess::Mode::kRead);
      if (file) reader = std::make_unique<EvtReader>(std::move(file));
      if (!reader) continue;
    }
    if (!reader->Refresh()) continue;  // not yet made a log
    std::uint32_t newest = reader->oldest() + reader->count() - 1;
    for (std::uint32_t n = std::max(seen + 1, reader->oldest());
         reader->count() > 0 && n <= newest; ++n) {
      EvtEvent got;
      EvtReader::Result result = reader->ReadEvent(n, &got);
      // The writer may wrap past a record between the refresh and the read.
      if (result == EvtReader::Result::kMissing) continue;
      // A failed read ends the reader, never the test before the join.
      if (result != EvtReader::Result::kOk) {
        ADD_FAILURE() << "read " << n;
        seen = kEvents;
        break;
      }
      EXPECT_EQ(Fields(got), Fields(Numbered(n)));
      seen = n;
    }
  }
  write.join();
  reader.reset();
  std::error_code error;
  fs::remove_all(dir, error);
}

// Given a site folder, the service should open a machine's logs by any
// spelling of its name, hold a missing log empty and answer seek reads as
// the platform does. (WatchTest sees a missing machine refused.)
TEST(SiteEventLogTest, ServiceCalls) {
  fs::path site = fs::temp_directory_path() / "sentory-evt-site";
  fs::remove_all(site);
  fs::create_directories(site / "Server1");
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
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
  }
  EXPECT_TRUE(service->CloseEventLog(log));
  EXPECT_FALSE(service->CloseEventLog(log));

  // A log file that vanished before it was opened is an empty log; one that
  // is there but cannot be opened is no log.
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
    if (log != nullptr) {
      EXPECT_TRUE(refused->GetNumberOfEventLogRecords(log, &count));
      EXPECT_EQ(count, 0u);
      refused->CloseEventLog(log);
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
  fs::path site = fs::temp_directory_path() / "sentory-evt-learn";
  fs::remove_all(site);
  fs::create_directories(site / "M1");
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
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
