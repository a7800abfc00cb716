// The scan loop over a System log on disk: 100,000 events in bursts between
// visits, the log wrapping and now and then cleared, some events filtered out.

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "app/scan_loop.h"
#include "gtest/gtest.h"
#include "platform/locked_file.h"
#include "tests/support/fake_services.h"
#include "tests/support/heap_in_use.h"
#include "winformat/evt_file.h"
#include "winformat/site_event_log.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kEvents = 100000;
// Freed blocks the allocator keeps at hand; a leak per alert or visit would
// exceed it many times.
constexpr std::size_t kHeapSlack = 16 * 1024;
constexpr char kScanning[] = "Scanning event logs (ctrl-c to quit)...";
constexpr char kHead[] =
    "***Alert time: Thu Jan 01 00:00:00 1970  Event time: Thu Jan 01 00:00:00 "
    "1970\n";

// Writes events between visits (its sleeps) and checks what each visit wrote.
class Soak : public FakeConsole, public FakeClock {
 public:
  explicit Soak(const fs::path& site) {
    fs::create_directories(site / "Soak0");
    file_ = MakeSystemFileAccess()->Open(
        EventLogPath((site / "Soak0").string(), "System"),
        FileAccess::Mode::kCreate);
    fakes_.registry.Set("SOAK0",
                        "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\"
                        "System\\SOAK",
                        "EventMessageFile", kRegSz, std::string("soak.dll", 9));
    fakes_.messages.files["soak.dll"][1234] = "%1 is the message";
  }

  void Run() {
    ASSERT_TRUE(file_ != nullptr && WriteLog(3, false));
    due_text_ = std::string(kScanning) + "\n";
    written_ = expected_ = 0;
    ParseWords(&state_.options, "/M0 SOAK0 /SYS");
    ParseSeverities("EWF", &state_.severities);
    state_.skip_text = std::make_unique<SkipList>("7 Soak\r\n");
    state_.cursors.Reset(1);
    try {
      ScanAndAlert(state_);
    } catch (const ProcessEnded&) {
    }
  }

  void Beep(std::uint32_t, std::uint32_t) override { ++tones_; }

  // The last visit alerted every event written before it; then a clear or a
  // burst, never both, so that a visit sees each clear.
  void Sleep(std::uint32_t) override {
    if (due_text_.find(kHead) != std::string::npos) {
      due_text_ += std::string("\n") + kScanning + "\n";
    }
    if (console != due_text_) Fail("a visit wrote\n" + console);
    console.clear();
    due_text_.clear();
    std::vector<std::string>().swap(fakes_.messages.loads);
    if (heap_first_ == 0 && tones_ >= 10000)
      heap_known_ = HeapInUse(&heap_first_);
    if (written_ == kEvents) {
      heap_known_ = heap_known_ && HeapInUse(&heap_last_);
      throw ProcessEnded{0};
    }
    bool clear = rng_() % 50 == 0;
    clears_ += clear;
    std::uint32_t count =
        clear ? 0
              : std::min<std::uint32_t>(1 + rng_() % 60, kEvents - written_);
    if (!WriteLog(count, clear)) Fail("a write failed or lost an event");
  }

  std::uint32_t written_ = 0, expected_ = 0, tones_ = 0, dropped_ = 0,
                clears_ = 0;
  bool heap_known_ = false;
  std::size_t heap_first_ = 0, heap_last_ = 0;

 private:
  void Fail(const std::string& what) {
    ADD_FAILURE() << what;
    throw ProcessEnded{1};
  }

  // One writer session on a copy in memory, written whole under the file's
  // lock. IDs: 1234 has a message, 7 is skipped, 12345 has none; one event in
  // 101 is longer than the loop's first read.
  bool WriteLog(std::uint32_t count, bool clear) {
    static const char* const kWords[] = {"ERR", "WARN", "INFO", "SCSS", "FAIL"};
    static const std::uint32_t kIds[] = {1234, 7, 12345};
    EvtWriter writer(image_.get());
    if (!writer.Begin(kEvtMinMaxSize) || (clear && !writer.Clear()))
      return false;
    std::uint32_t oldest = writer.state().oldest, first = writer.state().next;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t serial = written_++, hash = serial * 2654435761u;
      int type = (hash >> 8) % 5;
      std::uint32_t id = kIds[(hash >> 16) % 3];
      EvtEvent event;
      event.event_id = id;
      event.type = static_cast<std::uint16_t>(1 << type);
      event.source = "Soak";
      event.computer = "SOAK0";
      event.strings = {std::to_string(serial)};
      if (serial % 101 == 0) event.strings.push_back(std::string(700, 'a'));
      if (!writer.Append(event)) return false;
      if (type == 2 || type == 3 || id == 7) continue;  // filtered out
      due_text_ += std::string(kHead) + " SOAK0*Sys*" + kWords[type] +
                   "*Soak*" + std::to_string(id) + "*" + event.strings[0];
      if (id == 1234) due_text_ += " is the message";
      if (id == 12345 && serial % 101 == 0) due_text_ += "|" + event.strings[1];
      due_text_ += "\n";
      ++expected_;
    }
    const std::string& bytes = MemoryFileBytes(*image_);
    if (!writer.Finish() || !file_->Lock(true)) return false;
    bool ok = file_->WriteAt(0, bytes.data(), bytes.size());
    file_->Unlock();
    if (oldest != 0 && !clear) dropped_ += writer.state().oldest - oldest;
    return ok && writer.state().oldest <= first;
  }

  FakePlatform fakes_;
  std::unique_ptr<EventLogService> event_log_ =
      MakeSiteEventLog(MakeSystemFileAccess());
  Platform platform_{
      *this,           *this,        *event_log_,    fakes_.registry,
      fakes_.messages, fakes_.files, fakes_.process, fakes_.serial_ports};
  RunState state_{platform_};
  std::mt19937 rng_{20261207};
  std::unique_ptr<LockedFile> file_, image_ = MakeMemoryFile("");
  std::string due_text_ = std::string(kScanning) + "\n";
};

// Every passing event alerted once, in order, at the next visit; the heap no
// larger after the last alert than after the first 10,000.
TEST(SoakTest, EveryPassingEventAlertedOnceWithoutHeapGrowth) {
  fs::path site = fs::temp_directory_path() /
                  ("sentory-soak-" + std::to_string(std::random_device{}()));
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
  auto soak = std::make_unique<Soak>(site);
  soak->Run();
  EXPECT_EQ(soak->written_, kEvents);
  EXPECT_EQ(soak->tones_, soak->expected_);
  // The log wrapped and was cleared, and the filter dropped events.
  EXPECT_GT(soak->dropped_, kEvents / 2);
  EXPECT_GT(soak->clears_, 20u);
  EXPECT_LT(soak->expected_, kEvents * 2 / 3);
  bool heap_known = soak->heap_known_;
  if (heap_known) {
    EXPECT_LE(soak->heap_last_, soak->heap_first_ + kHeapSlack);
  }
  soak.reset();
  std::error_code error;
  fs::remove_all(site, error);
  if (!heap_known)
    GTEST_SKIP() << "this platform does not tell the heap's size";
}

}  // namespace
}  // namespace sentory
