#include "winformat/evt_file.h"

#include <cstring>

#include "gtest/gtest.h"
#include "platform/event_log.h"
#include "tests/support/evt_events.h"

namespace sentory {
namespace {

using Result = EvtReader::Result;

std::string Written(std::uint32_t max_size, std::uint32_t events,
                    const EvtEvent* event = nullptr) {
  auto file = MakeMemoryFile("");
  EXPECT_TRUE(WriteEvents(file.get(), max_size, 1, events, event));
  return MemoryFileBytes(*file);
}

void Put32(std::string* bytes, std::uint32_t at, std::uint32_t value) {
  std::memcpy(&(*bytes)[at], &value, 4);
}

// Real logs read whole, and no record past the end-of-file record.
TEST(EvtFileTest, ReadsRealLogs) {
  const struct {
    const char* file;
    std::uint32_t first, last;
    bool slack;
  } kLogs[] = {{"clean-TestLog.evt", 1, 5, false},
               {"clean-TestLog.evt", 1, 5, true},
               {"dirty-TestLog.evt", 1, 5, false},
               {"stale-header-AppEvent.Evt", 1, 121, false},
               {"wrapped-SysEvent.Evt", 1392, 7454, false}};
  for (const auto& log : kLogs) {
    std::string bytes = TestData(std::string("evt/") + log.file);
    if (bytes.empty()) GTEST_SKIP() << "no shared/testdata/evt";
    if (log.slack) {
      std::uint32_t at = 0x30;
      for (int n = 1; n < 5; ++n) at += Get32(&bytes[at]);
      std::string six = bytes.substr(at, Get32(&bytes[at]));  // 5 made 6
      six[8] = 6;
      Put32(&bytes, 20, Get32(&bytes[20]) + 0x28 + Get32(&six[0]));
      bytes += six;
    }
    EvtReader reader(MakeMemoryFile(bytes));
    ASSERT_TRUE(reader.Refresh()) << log.file;
    EXPECT_EQ(reader.oldest(), log.first);
    EXPECT_EQ(reader.count(), log.last - log.first + 1);
    std::vector<std::uint8_t> buffer(0x10000);
    std::uint32_t read = 0, needed = 0;
    for (std::uint32_t n = log.first - 1; n <= log.last + 1; ++n) {
      bool in = n >= log.first && n <= log.last;
      ASSERT_EQ(reader.ReadRecord(n, buffer.data(), 0x10000, &read, &needed),
                in ? Result::kOk : Result::kMissing)
          << log.file << " " << n;
      if (in) ExpectSingleByteRecord(buffer, read, n);
    }
  }
}

// Records 1001-1200 wrapped in 64 KiB, 8 bytes of padding before the wrap.
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
    at = to += record.size();
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

// Wrapped logs read in any order, none beyond.
TEST(EvtFileTest, ReadsWrappedLogsInAnyOrder) {
  const std::string written = Written(1000, 3000);  // rounded up to 64 KiB
  EXPECT_EQ(written.size(), 0x10000u);
  // Version 1.1; begin, end, next and oldest as the end-of-file record's.
  EXPECT_EQ(written.substr(8, 8), std::string("\1\0\0\0\1\0\0\0", 8));
  EXPECT_EQ(written.substr(16, 16),
            written.substr(Get32(&written[20]) + 20, 16));
  const struct {
    std::string bytes;
    std::uint32_t first, last, shift;
  } kLogs[] = {{written, 0, 3000, 0}, {PaddedLog(), 1001, 1200, 1000}};
  for (const auto& log : kLogs) {
    for (int order = 0; order < 3; ++order) {
      SCOPED_TRACE(std::to_string(log.last) + " " + std::to_string(order));
      EvtReader reader(MakeMemoryFile(log.bytes));
      ASSERT_TRUE(reader.Refresh());
      const std::uint32_t first = log.first != 0 ? log.first : reader.oldest();
      const std::uint32_t count = log.last - first + 1;
      EXPECT_GT(count, 100u);
      EXPECT_EQ(reader.oldest(), first);
      EXPECT_EQ(reader.count(), count);
      EvtEvent got;
      for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t k = order == 0   ? i
                          : order == 1 ? count - 1 - i
                                       : i * 37 % count;
        ASSERT_EQ(reader.ReadEvent(first + k, &got), Result::kOk) << first + k;
        EXPECT_EQ(Fields(got), Fields(Numbered(first + k - log.shift)));
      }
      EXPECT_EQ(reader.ReadEvent(first - 1, &got), Result::kMissing);
      EXPECT_EQ(reader.ReadEvent(log.last + 1, &got), Result::kMissing);
    }
  }
}

// Texts outside Windows-1252 become '?', the rest the code page's bytes.
TEST(EvtFileTest, RebuildsTextsInWindows1252) {
  EvtEvent e = Numbered(1);
  e.source = "S\xC3\xA9";                                  // é
  e.computer = "\xE2\x82\xAC\xE2\x80\x9C";                 // € “
  e.strings = {"\xD0\x96\xF0\x9F\x98\x80!\xBF", "plain"};  // Ж 😀 ! stray
  EvtReader reader(MakeMemoryFile(Written(0, 1, &e)));
  std::vector<std::uint8_t> buffer(512);
  std::uint32_t read = 0, needed = 0;
  ASSERT_EQ(reader.ReadRecord(1, buffer.data(), 512, &read, &needed),
            Result::kOk);
  ExpectSingleByteRecord(buffer, read, 1);
  const char* r = reinterpret_cast<const char*>(buffer.data());
  EXPECT_STREQ(r + 56, "S\xE9");
  EXPECT_STREQ(r + 59, "\x80\x93");
  EXPECT_STREQ(r + Get32(r + 36), "?\?!\xBF");
  EXPECT_EQ(reader.ReadRecord(1, buffer.data(), read - 1, &read, &needed),
            Result::kTooSmall);
  EXPECT_EQ(needed, Get32(r));
}

// Unset fields, an unterminated string, data and user id past the body.
TEST(EvtFileTest, UnsetFieldsAndDamagedRecords) {
  EvtEvent e, got;
  e.source = "S";
  e.strings = {"ab"};
  std::string bytes = Written(0, 1, &e);
  ASSERT_EQ(EvtReader(MakeMemoryFile(bytes)).ReadEvent(1, &got), Result::kOk);
  EXPECT_EQ(Fields(got), Fields(e));
  EXPECT_EQ(got.event_id + got.time_written + got.type + got.category, 0u);
  // "ab", its terminator and two bytes of padding end the record's body.
  std::uint32_t body = 0x30 + Get32(&bytes[0x30]) - 4;
  bytes.replace(body - 4, 4, std::string("c\0d\0", 4));
  ASSERT_EQ(EvtReader(MakeMemoryFile(bytes)).ReadEvent(1, &got), Result::kOk);
  EXPECT_EQ(got.strings, std::vector<std::string>{"abcd"});
  // Each row: the field's place in the record, its length and offset.
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
              d[1] + d[2] <= body - 0x30 ? Result::kOk : Result::kCorrupt)
        << d[0] << " " << d[1] << " " << d[2];
  }
}

// An unfinished writer's header is dirty; clearing starts again at 1.
TEST(EvtFileTest, DirtyHeaderAndClear) {
  auto file = MakeMemoryFile("");
  ASSERT_TRUE(WriteEvents(file.get(), 0, 1, 1));
  EvtWriter writer(file.get());
  ASSERT_TRUE(writer.Begin(0));
  ASSERT_TRUE(writer.Append(Numbered(2)));
  const std::string& bytes = MemoryFileBytes(*file);
  EXPECT_EQ(Get32(&bytes[36]) & kEvtFlagDirty, kEvtFlagDirty);
  EXPECT_EQ(Get32(&bytes[24]), 3u);  // the next number
  EvtReader reader(MakeMemoryFile(bytes));
  ASSERT_TRUE(reader.Refresh());
  EXPECT_EQ(reader.count(), 2u);
  ASSERT_TRUE(writer.Clear() && writer.Append(Numbered(3)) && writer.Finish());
  EvtReader after(MakeMemoryFile(MemoryFileBytes(*file)));
  ASSERT_TRUE(after.Refresh());
  EXPECT_EQ(std::make_pair(after.oldest(), after.count()),
            std::make_pair(1u, 1u));
  EvtEvent got;
  ASSERT_EQ(after.ReadEvent(1, &got), Result::kOk);
  EXPECT_EQ(Fields(got), Fields(Numbered(3)));
}

}  // namespace
}  // namespace sentory
