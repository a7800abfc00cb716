#include "winformat/evt_file.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "gtest/gtest.h"
#include "platform/event_log.h"
#include "tests/support/evt_events.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// Given each real log, we should find its records by the end-of-file
// record, read every one of them whole, and nothing beyond them. The
// wrapped log's record 1572 is split across the end of the file.
TEST(EvtFileTest, ReadsRealLogs) {
  const struct {
    const char* file;
    std::uint32_t first, last;
  } kLogs[] = {{"clean-TestLog.evt", 1, 5},
               {"dirty-TestLog.evt", 1, 5},
               {"stale-header-AppEvent.Evt", 1, 121},
               {"wrapped-SysEvent.Evt", 1392, 7454}};
  for (const auto& log : kLogs) {
    SCOPED_TRACE(log.file);
    std::string bytes = TestData(std::string("evt/") + log.file);
    if (bytes.empty()) GTEST_SKIP() << "no shared/testdata/evt";
    EvtReader reader(MakeMemoryFile(bytes));
    ASSERT_TRUE(reader.Refresh());
    EXPECT_EQ(reader.oldest(), log.first);
    EXPECT_EQ(reader.count(), log.last - log.first + 1);
    std::vector<std::uint8_t> buffer(0x10000);
    std::uint32_t read = 0, needed = 0;
    for (std::uint32_t n = log.first - 1; n <= log.last + 1; ++n) {
      bool in = n >= log.first && n <= log.last;
      ASSERT_EQ(reader.ReadRecord(n, buffer.data(), 0x10000, &read, &needed),
                in ? EvtReader::Result::kOk : EvtReader::Result::kMissing)
          << n;
      if (in) ExpectSingleByteRecord(buffer, read, n);
    }
  }
}

// Given a log whose slack after the end-of-file record holds a well-formed
// record numbered next, we should never take it for part of the log, even
// when the header claims it.
TEST(EvtFileTest, NeverReadsPastTheEndOfFileRecord) {
  std::string bytes = TestData("evt/clean-TestLog.evt");
  if (bytes.empty()) GTEST_SKIP() << "no shared/testdata/evt";
  std::uint32_t eof = Get32(&bytes[20]), at = 0x30;
  for (int n = 1; n < 5; ++n) at += Get32(&bytes[at]);
  std::string six = bytes.substr(at, Get32(&bytes[at]));  // record 5 as 6
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

// The bytes of a log of |max_size| after |events| events written: events
// 1 to |events|, or |event| as often.
std::string Written(std::uint32_t max_size, std::uint32_t events,
                    const EvtEvent* event = nullptr) {
  auto file = MakeMemoryFile("");
  EvtWriter writer(file.get());
  EXPECT_TRUE(writer.Begin(max_size));
  for (std::uint32_t n = 1; n <= events; ++n) {
    EXPECT_TRUE(writer.Append(event != nullptr ? *event : Numbered(n)));
  }
  EXPECT_TRUE(writer.Finish());
  return MemoryFileBytes(*file);
}

void Put32(std::string* bytes, std::uint32_t at, std::uint32_t value) {
  std::memcpy(&(*bytes)[at], &value, 4);
}

// Events 1 to 200 as records 1001 to 1200 of a log of 64 KiB, as the
// platform's service may leave one: the first 60 end 8 bytes before the
// end of the file, padding fills those, and the rest follow the header.
std::string PaddedLog() {
  const std::string all = Written(0x100000, 200);
  std::uint32_t at = 0x30, begin = 0x10000 - 8;
  for (int i = 0; i < 60; ++i, at += Get32(&all[at])) begin -= Get32(&all[at]);
  std::string log = all.substr(0, 0x10000);
  std::fill(log.begin() + 0x30, log.end(), '\0');
  for (std::uint32_t i = 0, from = 0x30, to = begin; i < 200; ++i) {
    std::string record = all.substr(from, Get32(&all[from]));
    Put32(&record, 8, 1001 + i);
    to = i == 60 ? 0x30 : to;
    log.replace(to, record.size(), record);
    from += record.size();
    to += record.size();
    at = to;
  }
  log.replace(at, 0x28, all, Get32(&all[20]), 0x28);  // end-of-file record
  const std::uint32_t fields[] = {begin, at, 1201, 1001};
  for (std::uint32_t i = 0; i < 4; ++i) {
    Put32(&log, 16 + 4 * i, fields[i]);
    Put32(&log, at + 20 + 4 * i, fields[i]);
  }
  Put32(&log, 32, 0x10000);
  Put32(&log, 36, kEvtFlagWrapped);
  return log;
}

// Given wrapped logs, one of 3000 events written to 64 KiB with a record
// split across the end of the file, one with padding there, we should read
// every record the log holds, and none beyond, forwards, backwards and in
// any order.
TEST(EvtFileTest, ReadsWrappedLogsInAnyOrder) {
  const std::string written = Written(1000, 3000);  // rounded up to 64 KiB
  EXPECT_EQ(written.size(), 0x10000u);
  // The clean header's version, 1.1, and its begin, end, next and oldest:
  // the end-of-file record's.
  EXPECT_EQ(written.substr(8, 8), std::string("\1\0\0\0\1\0\0\0", 8));
  EXPECT_EQ(written.substr(16, 16),
            written.substr(Get32(&written[20]) + 20, 16));
  const struct {
    const char* what;
    std::string bytes;
    std::uint32_t first, last, event_shift;
  } kLogs[] = {{"written", written, 0, 3000, 0},
               {"padded", PaddedLog(), 1001, 1200, 1000}};
  for (const auto& log : kLogs) {
    EvtReader probe(MakeMemoryFile(log.bytes));
    ASSERT_TRUE(probe.Refresh()) << log.what;
    const std::uint32_t first = log.first != 0 ? log.first : probe.oldest();
    const std::uint32_t count = log.last - first + 1;
    EXPECT_GT(count, 100u);
    for (int order = 0; order < 3; ++order) {
      SCOPED_TRACE(std::string(log.what) + " order " + std::to_string(order));
      EvtReader reader(MakeMemoryFile(log.bytes));
      ASSERT_TRUE(reader.Refresh());
      EXPECT_EQ(reader.oldest(), first);
      EXPECT_EQ(reader.count(), count);
      for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t k = order == 0   ? i
                          : order == 1 ? count - 1 - i
                                       : i * 37 % count;
        EvtEvent got;
        ASSERT_EQ(reader.ReadEvent(first + k, &got), EvtReader::Result::kOk)
            << first + k;
        EXPECT_EQ(Fields(got), Fields(Numbered(first + k - log.event_shift)));
      }
      EvtEvent none;
      EXPECT_EQ(reader.ReadEvent(first - 1, &none),
                EvtReader::Result::kMissing);
      EXPECT_EQ(reader.ReadEvent(log.last + 1, &none),
                EvtReader::Result::kMissing);
    }
  }
}

// Given texts outside Windows-1252, the single-byte record should carry '?'
// for them and the code page's own bytes for the rest.
TEST(EvtFileTest, RebuildsTextsInWindows1252) {
  EvtEvent e = Numbered(1);
  e.source = "S\xC3\xA9";                                  // é
  e.computer = "\xE2\x82\xAC\xE2\x80\x9C";                 // € “
  e.strings = {"\xD0\x96\xF0\x9F\x98\x80!\xBF", "plain"};  // Ж 😀 ! stray
  EvtReader reader(MakeMemoryFile(Written(0, 1, &e)));
  std::vector<std::uint8_t> buffer(512);
  std::uint32_t read = 0, needed = 0;
  ASSERT_EQ(reader.ReadRecord(1, buffer.data(), 512, &read, &needed),
            EvtReader::Result::kOk);
  ExpectSingleByteRecord(buffer, read, 1);
  const char* r = reinterpret_cast<const char*>(buffer.data());
  EXPECT_STREQ(r + 56, "S\xE9");
  EXPECT_STREQ(r + 59, "\x80\x93");
  EXPECT_STREQ(r + Get32(r + 36), "?\?!\xBF");
  EXPECT_EQ(reader.ReadRecord(1, buffer.data(), read - 1, &read, &needed),
            EvtReader::Result::kTooSmall);
  EXPECT_EQ(needed, Get32(r));
}

// Given an event with only a source and a string, it should read back with
// every other field zero; given its record damaged so that the string runs
// unterminated to the end of the record, the string should end there.
TEST(EvtFileTest, UnsetFieldsAndAnUnterminatedString) {
  EvtEvent e;
  e.source = "S";
  e.strings = {"ab"};
  std::string bytes = Written(0, 1, &e);
  EvtEvent got;
  ASSERT_EQ(EvtReader(MakeMemoryFile(bytes)).ReadEvent(1, &got),
            EvtReader::Result::kOk);
  EXPECT_EQ(Fields(got), Fields(e));
  EXPECT_EQ(got.event_id + got.time_written + got.type + got.category, 0u);
  // "ab", its terminator and two bytes of padding end the record's body.
  std::uint32_t body = 0x30 + Get32(&bytes[0x30]) - 4;
  bytes.replace(body - 4, 4, std::string("c\0d\0", 4));
  ASSERT_EQ(EvtReader(MakeMemoryFile(bytes)).ReadEvent(1, &got),
            EvtReader::Result::kOk);
  EXPECT_EQ(got.strings, std::vector<std::string>{"abcd"});
  // The data and the user's id may lie anywhere in the body, none past it:
  // each row the field's place in the record, its length and its offset.
  const std::uint32_t kDamage[][3] = {{48, body - 0x30, 0},
                                      {48, body - 0x2F, 0},
                                      {48, 1, body - 0x30},
                                      {40, body - 0x30, 0},
                                      {40, body - 0x30, 1}};
  for (const auto& d : kDamage) {
    std::string damaged = bytes;
    Put32(&damaged, 0x30 + d[0], d[1]);
    Put32(&damaged, 0x34 + d[0], d[2]);
    EXPECT_EQ(EvtReader(MakeMemoryFile(damaged)).ReadEvent(1, &got),
              d[1] + d[2] <= body - 0x30 ? EvtReader::Result::kOk
                                         : EvtReader::Result::kCorrupt)
        << d[0] << " " << d[1] << " " << d[2];
  }
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
// through another, every record the reader sees should be whole and right,
// and once the writer has ended, one more look should find them all.
TEST(EvtFileTest, ReaderFollowsAWriterAtOnce) {
  fs::path dir = fs::temp_directory_path() / "sentory-evt-concurrent";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string path = (dir / "System.evt").string();
  auto files = MakeSystemFileAccess();
  const std::uint32_t kEvents = 400;
  std::atomic<bool> writer_done{false};
  std::thread write([&] {
    auto file = files->Open(path, FileAccess::Mode::kCreate);
    for (std::uint32_t n = 1; file && n <= kEvents; ++n) {
      EvtWriter writer(file.get());
      if (!writer.Begin(0x10000) || !writer.Append(Numbered(n)) ||
          !writer.Finish()) {
        ADD_FAILURE() << "write " << n;
        break;
      }
    }
    writer_done = true;
  });
  std::uint32_t seen = 0;  // the last record read
  std::unique_ptr<EvtReader> reader;
  for (bool last_look = false; seen < kEvents;) {
    if (last_look) {
      ADD_FAILURE() << "the writer ended after record " << seen;
      break;
    }
    last_look = writer_done;
    auto file = reader ? nullptr : files->Open(path, FileAccess::Mode::kRead);
    if (file) reader = std::make_unique<EvtReader>(std::move(file));
    if (!reader || !reader->Refresh()) continue;  // not yet made a log
    for (std::uint32_t n = std::max(seen + 1, reader->oldest());
         n < reader->oldest() + reader->count(); ++n) {
      EvtEvent got;
      EvtReader::Result result = reader->ReadEvent(n, &got);
      // The writer may wrap past a record between the refresh and the read.
      if (result == EvtReader::Result::kMissing) continue;
      if (result != EvtReader::Result::kOk) {
        ADD_FAILURE() << "read " << n;  // ends the reader, not the test
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

}  // namespace
}  // namespace sentory
