// Hands out records that fail the filter, through NextEvent and
// PassesFilter over the site's event log, as a pass of the monitor does over
// a log full of events it raises no alert for, and prints the rate. Half of
// the records are of a type not selected, half are skipped by the skip text.
// A figure, not a test; the goal is at least 500,000 records a second.
// Then times the skip check alone on those records with skip files of
// 10 to 100,000 entries: the cost of a record must not grow with the file.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "eventlog/blackout.h"
#include "eventlog/event_filter.h"
#include "eventlog/log_rotation.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "winformat/evt_file.h"
#include "platform/locked_file.h"

namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

constexpr std::uint32_t kRecords = 200000;  // per pass
constexpr int kRuns = 3;                    // passes; the best counts
constexpr double kGoal = 500000;            // records a second
constexpr int kChecks = 1000000;            // skip checks per skip file size

// A skip file of |entries| lines, the one that drops the bench's skipped
// records last.
std::string SkipFileText(int entries) {
  std::string text;
  for (int n = 1; n < entries; ++n) {
    text += std::to_string(n % 60000) + " Source " + std::to_string(n) + "\r\n";
  }
  return text + "1234 Disk\r\n";
}

// Appends |count| records that the filter below drops.
bool WriteRecords(sentory::LockedFile* file, std::uint32_t count) {
  sentory::EvtWriter writer(file);
  if (!writer.Begin(kRecords * 2 * 200u)) return false;
  for (std::uint32_t n = 0; n < count; ++n) {
    sentory::EvtEvent event;
    event.time_generated = event.time_written = 1700000000u + n;
    event.computer = "BENCH";
    if (n % 2 == 0) {
      event.type = 4;  // information: not selected
      event.event_id = 7036;
      event.source = "Service Control Manager";
      event.strings = {"Print Spooler", "running"};
    } else {
      event.type = 1;  // an error, but skipped
      event.event_id = 1234;
      event.source = "Disk";
      event.strings = {"\\Device\\Harddisk0", std::to_string(n)};
    }
    if (!writer.Append(event)) return false;
  }
  return writer.Finish();
}

}  // namespace

int main() {
  using sentory::NextEventResult;
  fs::path site = fs::temp_directory_path() / "sentory-filter-bench";
  std::error_code error;
  fs::remove_all(site, error);
  fs::create_directories(site / "BENCH");
  setenv("SENTORY_ROOT", site.c_str(), 1);
  auto file = sentory::MakeSystemFileAccess()->Open(
      (site / "BENCH" / "System.evt").string(),
      sentory::FileAccess::Mode::kCreate);
  if (!file || !WriteRecords(file.get(), 0)) {
    std::fprintf(stderr, "cannot write the log in %s\n", site.c_str());
    return 1;
  }

  static const char* const kWords[] = {"bench", "/M0", "BENCH",
                                       "/SYS",  "/S",  "EW"};
  sentory::OptionTable options;
  options.ParseCommandLine(6, kWords);
  sentory::SeveritySlots slots;
  sentory::ParseSeverities("EW", &slots);
  const sentory::SkipList skip_list("1234 Disk\n");
  auto console = sentory::MakeSystemConsole();
  auto clock = sentory::MakeSystemClock();
  auto event_log = sentory::MakeSystemEventLog();
  sentory::OutputStream out(*console);
  sentory::Blackout blackout(options, *clock, out);
  sentory::RecordCursorTable cursors;
  cursors.Reset(1);
  sentory::LogRotation rotation(options, *event_log, out, blackout, cursors);
  sentory::EventRecord record;
  char log_name[sentory::kLogNameSize];
  // The first visit takes what the log holds as seen.
  if (rotation.NextEvent(&record, log_name) != NextEventResult::kCaughtUp) {
    std::fprintf(stderr, "the first visit did not catch up\n");
    return 1;
  }

  double best_seconds = 0, best_cpu = 0;
  sentory::EventRecord kept[2];  // one not selected, one skipped
  for (int run = 0; run < kRuns; ++run) {
    if (!WriteRecords(file.get(), kRecords)) {
      std::fprintf(stderr, "cannot write the log\n");
      return 1;
    }
    std::uint32_t handed_out = 0, passed = 0;
    auto start = WallClock::now();
    std::clock_t cpu_start = std::clock();
    while (rotation.NextEvent(&record, log_name) == NextEventResult::kEvent) {
      ++handed_out;
      if (sentory::PassesFilter(record, slots, &skip_list)) ++passed;
      if (handed_out <= 2) {
        kept[handed_out - 1] = std::move(record);
      }
      record = sentory::EventRecord();
    }
    double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    double seconds =
        std::chrono::duration<double>(WallClock::now() - start).count();
    if (handed_out != kRecords || passed != 0) {
      std::fprintf(stderr, "handed out %u of %u records, %u passed\n",
                   handed_out, kRecords, passed);
      return 1;
    }
    if (run == 0 || seconds < best_seconds) best_seconds = seconds;
    if (run == 0 || cpu < best_cpu) best_cpu = cpu;
  }
  file.reset();
  fs::remove_all(site, error);
  double rate = kRecords / best_seconds;
  std::printf(
      "filtered out: %u records in one pass, best of %d: %.3f s, %.0f "
      "records/s (%.2f us each; processor time %.2f us each); goal %.0f "
      "records/s: %s\n",
      kRecords, kRuns, best_seconds, rate, best_seconds * 1e6 / kRecords,
      best_cpu * 1e6 / kRecords, kGoal, rate >= kGoal ? "met" : "NOT met");

  for (int entries : {10, 100, 10000, 100000}) {
    sentory::SkipList list(SkipFileText(entries));
    std::uint32_t dropped = 0;
    auto start = WallClock::now();
    for (int n = 0; n < kChecks; ++n) {
      if (!sentory::PassesFilter(kept[n % 2], slots, &list)) ++dropped;
    }
    double seconds =
        std::chrono::duration<double>(WallClock::now() - start).count();
    if (dropped != kChecks) {
      std::fprintf(stderr, "%d entries: %u of %d records dropped\n", entries,
                   dropped, kChecks);
      return 1;
    }
    std::printf("skip file of %6d entries: %.3f us a record\n", entries,
                seconds * 1e6 / kChecks);
  }
  return 0;
}
