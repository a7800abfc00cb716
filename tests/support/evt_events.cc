#include "tests/support/evt_events.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gtest/gtest.h"
#include "platform/event_log.h"

namespace sentory {

std::string TestData(const std::string& name) {
  namespace fs = std::filesystem;
  std::string file = __FILE__;
  // Under Wine, the Unix path of this file is reached through drive Z:.
  if (fs::path::preferred_separator == '\\' && file[0] == '/') {
    file = "Z:" + file;
  }
  for (fs::path at = fs::path(file).parent_path(); at != at.parent_path();
       at = at.parent_path()) {
    std::ifstream in(at / "shared" / "testdata" / name, std::ios::binary);
    if (in) return std::string(std::istreambuf_iterator<char>(in), {});
  }
  return "";
}

std::uint32_t Get32(const void* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
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

bool WriteEvents(LockedFile* file, std::uint32_t max_size, std::uint32_t from,
                 std::uint32_t to, const EvtEvent* event) {
  EvtWriter writer(file);
  bool ok = writer.Begin(max_size);
  for (std::uint32_t n = from; ok && n <= to; ++n) {
    ok = writer.Append(event != nullptr ? *event : Numbered(n));
  }
  return ok && writer.Finish();
}

void ExpectSingleByteRecord(const std::vector<std::uint8_t>& buffer,
                            std::uint32_t read, std::uint32_t number) {
  ASSERT_GE(read, sizeof(EventLogRecord) + 4);
  EventLogRecord r;
  std::memcpy(&r, buffer.data(), sizeof(r));
  EXPECT_EQ(std::make_tuple(r.Length, Get32(&buffer[read - 4]), r.Reserved,
                            r.RecordNumber),
            std::make_tuple(read, read, kEvtSignature, number));
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

}  // namespace sentory
