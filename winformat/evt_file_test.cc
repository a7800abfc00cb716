#include "winformat/evt_file.h"

#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "gtest/gtest.h"
#include "platform/event_log.h"
#include "tests/support/evt_events.h"

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

}  // namespace
}  // namespace sentory
