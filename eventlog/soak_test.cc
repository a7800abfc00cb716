// A long run of the scan-and-alert loop over the site's event log files:
// many events written in bursts between visits, logs that wrap and are
// cleared, a blackout now and then, and events the filter drops. Every event
// that passes the filter must be alerted once, in order, and the heap must
// not grow as the run goes on.

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "app/scan_loop.h"
#include "gtest/gtest.h"
#include "winformat/evt_file.h"
#include "platform/locked_file.h"
#include "winformat/site_event_log.h"
#include "tests/support/fake_services.h"
#include "tests/support/heap_in_use.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

constexpr int kMachines = 4;
constexpr int kLogCount = 3;
constexpr int kPairs = kMachines * kLogCount;
// The order the loop visits them in: every log of a machine, then the next.
constexpr const char* kLogs[kLogCount] = {"System", "Security", "Application"};
constexpr std::uint32_t kEvents = 100000;
constexpr std::uint32_t kMaxBurst = 60;
// Records written to one log between two of its visits: about half of what
// a log of the smallest size holds, so a wrap drops only records that were
// handed out already.
constexpr std::uint32_t kMaxUnread = 300;
constexpr std::uint32_t kClearOneIn = 50;   // visits
constexpr int kBlackoutEvery = 700;         // passes
constexpr int kBlackoutPasses = 30;         // at the end of each of those
constexpr std::int64_t kOneAm = 946688400;  // Sat Jan 01 01:00:00 2000 UTC
constexpr std::int64_t kTwoAm = kOneAm + 3600;
constexpr std::uint32_t kFirstHeapSample = 10000;  // alerts
// The C library's allocator keeps some freed blocks of each size at hand and
// counts them as in use; they add a few KiB early in a run and then stay. A
// leak of one block per alert or per visit would exceed this many times.
constexpr std::size_t kHeapSlack = 16 * 1024;
constexpr char kBlackoutNotice[] = "Blackout in effect from 2:00 to 3:00";

// What the event numbered |serial| is: its type, source and ID, and whether
// the options below ("/S EWF", the skip entry "1234 Disk") let it through.
struct SoakEvent {
  std::uint16_t type;
  const char* type_word;
  const char* source;  // "Soak" has a message file, "Disk" none
  std::uint32_t id;
  bool passes;
  bool long_text;  // makes the record larger than the first read
};

SoakEvent EventOf(std::uint32_t serial) {
  static const struct {
    std::uint16_t type;
    const char* word;
    bool selected;
  } kTypes[] = {{1, "ERR", true},
                {2, "WARN", true},
                {4, "INFO", false},
                {8, "SCSS", false},
                {16, "FAIL", true}};
  static const struct {
    const char* source;
    std::uint32_t id;
    bool skipped;
  } kKinds[] = {{"Disk", 1234, true},
                {"Soak", 1234, false},
                {"Disk", 12345, false},
                {"Soak", 7, false}};
  std::uint32_t hash = serial * 2654435761u;
  const auto& type = kTypes[(hash >> 8) % 5];
  const auto& kind = kKinds[(hash >> 16) % 4];
  return {type.type,
          type.word,
          kind.source,
          kind.id,
          type.selected && !kind.skipped,
          serial % 101 == 0};
}

std::string MachineOf(int pair) { return "SOAK" + std::to_string(pair / 3); }

std::string LongText(std::uint32_t serial) {
  return std::string(700, static_cast<char>('a' + serial % 26));
}

// The alert line the loop must write for event |serial| of |pair|.
std::string ExpectedLine(std::uint32_t serial, int pair) {
  SoakEvent event = EventOf(serial);
  std::string machine = MachineOf(pair);
  std::string line = " " + machine + "*" +
                     std::string(kLogs[pair % kLogCount], 3) + "*" +
                     event.type_word + "*" + event.source + "*" +
                     std::to_string(event.id) + "*";
  if (event.source[0] == 'S') {
    line += "Soak event " + std::to_string(serial) + " on " + machine + ".";
  } else {
    line += std::to_string(serial) + "|" + machine;
    if (event.long_text) line += "|" + LongText(serial);
  }
  return line;
}

class Soak;

class SoakConsole : public FakeConsole {
 public:
  explicit SoakConsole(Soak* soak) : soak_(soak) { line_.reserve(1024); }
  void Write(std::string_view text) override;

 private:
  Soak* soak_;
  std::string line_;
};

class SoakClock : public FakeClock {
 public:
  explicit SoakClock(Soak* soak) : soak_(soak) {}
  void Sleep(std::uint32_t) override;
  void Beep(std::uint32_t, std::uint32_t) override { ++tones; }
  std::uint32_t tones = 0;

 private:
  Soak* soak_;
};

// Plays the writers between the passes of the loop, through its sleeps, and
// checks each line it writes, through its console.
class Soak {
 public:
  explicit Soak(const fs::path& site) {
    std::unique_ptr<FileAccess> access = MakeSystemFileAccess();
    for (int pair = 0; pair < kPairs; ++pair) {
      fs::path folder = site / ("Soak" + std::to_string(pair / 3));
      fs::create_directories(folder);
      files_[pair] =
          access->Open(EventLogPath(folder.string(), kLogs[pair % kLogCount]),
                       FileAccess::Mode::kCreate);
      images_[pair] = MakeMemoryFile("");
      pending_[pair].reserve(kMaxUnread);
      fakes_.registry.Set(MachineOf(pair),
                          std::string("SYSTEM\\CURRENTCONTROLSET\\SERVICES\\"
                                      "EVENTLOG\\") +
                              kLogs[pair % kLogCount] + "\\SOAK",
                          "EventMessageFile", kRegSz,
                          std::string("soak.dll\0", 9));
    }
    fakes_.messages.files["soak.dll"] = {{1234, "Soak event %1 on %2."},
                                         {7, "Soak event %1 on %2."}};
  }

  // Writes a few records to every log before the first visit (they count as
  // seen), then runs the loop until every event is written and every log has
  // been visited after the last one.
  void Run() {
    for (int pair = 0; pair < kPairs; ++pair) {
      ASSERT_TRUE(files_[pair] != nullptr);
      ASSERT_TRUE(WriteBurst(pair, 3, false));
    }
    static const char* const kWords[] = {
        "sentory",   "/M0", "SOAK0", "/M1",  "soak1", "/M2",
        "\\\\Soak2", "/M3", "SOAK3", "/SYS", "/SEC",  "/APP",
        "/S",        "EWF", "/SK",   "skip", "/B0",   "2-3"};
    state_.options.ParseCommandLine(sizeof(kWords) / sizeof(kWords[0]), kWords);
    ParseSeverities("EWF", &state_.severities);
    state_.skip_text = std::make_unique<SkipList>("1234 Disk\r\n");
    state_.cursors.Reset(kMachines);
    clock_.now = kOneAm;
    try {
      ScanAndAlert(state_);
    } catch (const ProcessEnded&) {
    }
  }

  void OnLine(const std::string& line) {
    if (failed_ || line.empty() ||
        line == "Scanning event logs (ctrl-c to quit)...") {
      return;
    }
    if (line.compare(0, 15, "***Alert time: ") == 0) {
      if (alert_heads_++ != alerts_) Fail("two alert heads in a row");
    } else if (line == kBlackoutNotice) {
      ++notices_;
    } else if (line[0] == ' ') {
      int pair = pass_ % kPairs;
      if (in_blackout_ || head_[pair] == pending_[pair].size()) {
        Fail("alert not expected in pass " + std::to_string(pass_) + ": " +
             line);
      }
      std::string want = ExpectedLine(pending_[pair][head_[pair]], pair);
      if (line != want) {
        Fail("alert " + std::to_string(alerts_) + " is\n" + line +
             "\nand should be\n" + want);
      }
      ++head_[pair];
      ++alerts_;
    } else {
      Fail("unexpected line: " + line);
    }
  }

  // Between two passes: checks the pass that ended, then writes.
  void OnSleep() {
    if (failed_) throw ProcessEnded{1};
    int pair = pass_ % kPairs;
    if (!in_blackout_) {
      if (head_[pair] != pending_[pair].size()) {
        Fail("pass " + std::to_string(pass_) + " alerted " +
             std::to_string(head_[pair]) + " of " +
             std::to_string(pending_[pair].size()) + " events");
      }
      pending_[pair].clear();
      head_[pair] = 0;
      unread_[pair] = 0;
      seen_[pair] = next_[pair] - 1;
      cleared_[pair] = false;
    }
    quiet_passes_ = in_blackout_ ? 0 : quiet_passes_ + 1;
    std::vector<std::string>().swap(fakes_.messages.loads);
    if (heap_first_ == 0 && alerts_ >= kFirstHeapSample) {
      heap_known_ = HeapInUse(&heap_first_);
    }
    if (written_ == kEvents && quiet_passes_ >= kPairs) {
      heap_known_ = heap_known_ && HeapInUse(&heap_last_);
      throw ProcessEnded{0};
    }
    // Writing begins once every pair has been visited: what a log holds at
    // its first visit counts as seen.
    if (written_ < kEvents && pass_ >= kPairs - 1) {
      if (!in_blackout_ && rng_() % kClearOneIn == 0) Clear(pair);
      int target = static_cast<int>(rng_() % kPairs);
      std::uint32_t count =
          std::min({1 + static_cast<std::uint32_t>(rng_() % kMaxBurst),
                    kMaxUnread - unread_[target], kEvents - written_});
      if (!cleared_[target] && count > 0) {
        if (!WriteBurst(target, count, true)) Fail("a burst failed");
        quiet_passes_ = 0;
      }
    }
    ++pass_;
    bool blackout = pass_ % kBlackoutEvery >= kBlackoutEvery - kBlackoutPasses;
    if (blackout && !in_blackout_) ++blackouts_;
    in_blackout_ = blackout;
    clock_.now = blackout ? kTwoAm : kOneAm;
  }

  std::uint32_t written_ = 0, expected_alerts_ = 0, alerts_ = 0,
                alert_heads_ = 0, dropped_ = 0, clears_ = 0;
  int notices_ = 0, blackouts_ = 0;
  bool heap_known_ = false;
  std::size_t heap_first_ = 0, heap_last_ = 0;
  SoakClock clock_{this};

 private:
  void Fail(const std::string& what) {
    ADD_FAILURE() << what;
    failed_ = true;
    throw ProcessEnded{1};
  }

  // Appends |count| events to |pair|'s log as one writer session; |counted|
  // events take part in the run, the others exist before it. False when a
  // write fails or the log dropped a record not yet visited.
  bool WriteBurst(int pair, std::uint32_t count, bool counted) {
    EvtWriter writer(images_[pair].get());
    if (!writer.Begin(kEvtMinMaxSize)) return false;
    std::uint32_t oldest_before = writer.state().oldest;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t serial = counted ? written_++ : kEvents + pair;
      SoakEvent kind = EventOf(serial);
      EvtEvent event;
      event.time_generated = event.time_written =
          static_cast<std::uint32_t>(clock_.now);
      event.event_id = kind.id;
      event.type = kind.type;
      event.source = kind.source;
      event.computer = MachineOf(pair);
      event.strings = {std::to_string(serial), MachineOf(pair)};
      if (kind.long_text) event.strings.push_back(LongText(serial));
      if (!writer.Append(event)) return false;
      if (counted && kind.passes) {
        pending_[pair].push_back(serial);
        ++expected_alerts_;
      }
    }
    if (!writer.Finish() || !Publish(pair)) return false;
    unread_[pair] += count;
    next_[pair] = writer.state().next;
    if (oldest_before != 0) dropped_ += writer.state().oldest - oldest_before;
    return !counted || writer.state().oldest <= seen_[pair] + 1;
  }

  // The writer works on a copy of each log in memory, which goes to the log
  // file whole, in one write under the file's exclusive lock: the loop reads
  // what a writer leaves behind, and the run stays short where each small
  // file write is slow (under Wine).
  bool Publish(int pair) {
    const std::string& bytes = MemoryFileBytes(*images_[pair]);
    if (!files_[pair]->Lock(true)) return false;
    bool ok = files_[pair]->WriteAt(0, bytes.data(), bytes.size());
    files_[pair]->Unlock();
    return ok;
  }

  // Empties |pair|'s log, which holds nothing unread, and writes nothing to
  // it until its next visit has seen it empty.
  void Clear(int pair) {
    EvtWriter writer(images_[pair].get());
    if (!writer.Begin(kEvtMinMaxSize) || !writer.Clear() || !writer.Finish() ||
        !Publish(pair)) {
      Fail("a clear failed");
    }
    next_[pair] = writer.state().next;
    cleared_[pair] = true;
    ++clears_;
  }

  FakePlatform fakes_;
  SoakConsole console_{this};
  std::unique_ptr<EventLogService> event_log_ =
      MakeSiteEventLog(MakeSystemFileAccess());
  Platform platform_{
      console_,        clock_,       *event_log_,    fakes_.registry,
      fakes_.messages, fakes_.files, fakes_.process, fakes_.serial_ports};
  RunState state_{platform_};
  std::mt19937 rng_{20261207};
  std::unique_ptr<LockedFile> files_[kPairs];
  std::unique_ptr<LockedFile> images_[kPairs];

  int pass_ = 0;
  bool in_blackout_ = false;
  int quiet_passes_ = 0;  // passes out of blackout since the last write
  bool failed_ = false;
  // Per pair: the serials that must be alerted at its next visit and how
  // many of them were; records written since its last visit; the newest
  // record number at its last visit; the number of the next record.
  std::vector<std::uint32_t> pending_[kPairs];
  std::size_t head_[kPairs] = {};
  std::uint32_t unread_[kPairs] = {};
  std::uint32_t seen_[kPairs] = {};
  std::uint32_t next_[kPairs] = {};
  bool cleared_[kPairs] = {};
};

void SoakConsole::Write(std::string_view text) {
  for (char c : text) {
    if (c != '\n') {
      line_ += c;
      continue;
    }
    soak_->OnLine(line_);
    line_.clear();
  }
}

void SoakClock::Sleep(std::uint32_t) { soak_->OnSleep(); }

// Given 100,000 events written in bursts to 4 machines' 3 logs, with wraps,
// clears, blackouts and events the filter drops, every event that passes
// should be alerted once, in order, at the first visit after it was written
// outside a blackout, and the heap in use should be no larger after the last
// alert than after the first 10,000.
TEST(SoakTest, EveryPassingEventAlertedOnceWithoutHeapGrowth) {
  // A name of its own, so runs of two builds at once do not meet.
  fs::path site = fs::temp_directory_path() /
                  ("sentory-soak-" + std::to_string(std::random_device{}()));
  std::error_code error;
  fs::remove_all(site, error);
  static char root[512];
  std::snprintf(root, sizeof(root), "SENTORY_ROOT=%s", site.string().c_str());
  putenv(root);
  {
    auto soak = std::make_unique<Soak>(site);
    soak->Run();
    EXPECT_EQ(soak->written_, kEvents);
    EXPECT_EQ(soak->alerts_, soak->expected_alerts_);
    EXPECT_EQ(soak->clock_.tones, soak->alerts_);
    EXPECT_EQ(soak->notices_, soak->blackouts_);
    // The run did what it is for: logs wrapped and were cleared, blackouts
    // came, and the filter dropped events.
    EXPECT_GT(soak->dropped_, kEvents / 2);
    EXPECT_GT(soak->clears_, 20u);
    EXPECT_GT(soak->blackouts_, 2);
    EXPECT_LT(soak->expected_alerts_, kEvents * 2 / 3);
    if (soak->heap_known_) {
      EXPECT_LE(soak->heap_last_, soak->heap_first_ + kHeapSlack);
    }
    bool heap_known = soak->heap_known_;
    soak.reset();
    fs::remove_all(site, error);
    if (!heap_known)
      GTEST_SKIP() << "this platform does not tell the heap's size";
  }
}

}  // namespace
}  // namespace sentory
