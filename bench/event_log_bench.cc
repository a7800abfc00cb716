// Reads every record of logs of 10,000, 100,000 and 1,000,000 records one
// seek read at a time, as the monitor does, and prints the rate; then times
// evtexport on the 100,000-record log when it is installed. A figure, not a
// test.

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/evt_file.h"
#include "platform/locked_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How often each log is read; the best time counts.
constexpr int kRuns = 3;
// The monitor's first buffer size.
constexpr std::uint32_t kReadBufferSize = 512;

bool MakeLog(const std::string& path, std::uint32_t records) {
  auto file = sentory::MakeSystemFileAccess()->Open(
      path, sentory::FileAccess::Mode::kCreate);
  if (!file) return false;
  sentory::EvtWriter writer(file.get());
  // Room for every record (about 150 bytes each) without wrapping.
  if (!writer.Begin(records * 200u + 0x10000u)) return false;
  for (std::uint32_t n = 1; n <= records; ++n) {
    sentory::EvtEvent event;
    event.time_generated = event.time_written = 1700000000u + n;
    event.event_id = 7000u + n % 50;
    event.type = 4;
    event.source = "Service Control Manager";
    event.computer = "BENCH";
    event.strings = {"Service " + std::to_string(n), "running"};
    if (!writer.Append(event)) return false;
  }
  return writer.Finish();
}

// Reads every record; returns the number read, or 0 on a failure.
std::uint32_t ReadAll(sentory::EventLogService* service) {
  auto log = service->OpenEventLog("BENCH", "System");
  if (log == nullptr) return 0;
  std::uint32_t oldest = 0, count = 0, read = 0, needed = 0;
  service->GetOldestEventLogRecord(log, &oldest);
  service->GetNumberOfEventLogRecords(log, &count);
  std::vector<char> buffer(kReadBufferSize);
  const std::uint32_t flags =
      sentory::kEventLogSeekRead | sentory::kEventLogForwardsRead;
  for (std::uint32_t n = oldest; n < oldest + count; ++n) {
    if (!service->ReadEventLog(log, flags, n, buffer.data(), kReadBufferSize,
                               &read, &needed)) {
      if (service->LastError() != sentory::kErrorInsufficientBuffer) return 0;
      std::vector<char> big(needed);
      if (!service->ReadEventLog(log, flags, n, big.data(), needed, &read,
                                 &needed)) {
        return 0;
      }
    }
  }
  service->CloseEventLog(log);
  return count;
}

}  // namespace

int main() {
  fs::path site = fs::temp_directory_path() / "sentory-event-log-bench";
  std::error_code error;
  fs::remove_all(site, error);
  fs::create_directories(site / "BENCH");
  setenv("SENTORY_ROOT", site.c_str(), 1);
  std::string path = (site / "BENCH" / "System.evt").string();
  double first_cost = 0, first_cpu_cost = 0;
  for (std::uint32_t records : {10000u, 100000u, 1000000u}) {
    fs::remove(path, error);
    auto made = Clock::now();
    if (!MakeLog(path, records)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    double write_seconds =
        std::chrono::duration<double>(Clock::now() - made).count();
    // The best of a few runs, in processor time as well as wall-clock time:
    // the machine is shared.
    double seconds = 0, cpu_seconds = 0;
    for (int run = 0; run < kRuns; ++run) {
      auto service = sentory::MakeSystemEventLog();
      auto start = Clock::now();
      std::clock_t cpu_start = std::clock();
      std::uint32_t read = ReadAll(service.get());
      double cpu =
          static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
      double took = std::chrono::duration<double>(Clock::now() - start).count();
      if (read != records) {
        std::fprintf(stderr, "read %u of %u records\n", read, records);
        return 1;
      }
      if (run == 0 || took < seconds) seconds = took;
      if (run == 0 || cpu < cpu_seconds) cpu_seconds = cpu;
    }
    double cost = seconds * 1e9 / records;
    double cpu_cost = cpu_seconds * 1e9 / records;
    if (first_cost == 0) first_cost = cost;
    if (first_cpu_cost == 0) first_cpu_cost = cpu_cost;
    std::printf(
        "%8u records (%5.1f MB, written in %.2f s): read in %.3f s, %.0f "
        "records/s, %.0f ns/record (%.2f x the smallest log's); processor "
        "time %.0f ns/record (%.2f x)\n",
        records, fs::file_size(path) / 1e6, write_seconds, seconds,
        records / seconds, cost, cost / first_cost, cpu_cost,
        cpu_cost / first_cpu_cost);
    if (records == 100000u &&
        std::system("command -v evtexport >/dev/null") == 0) {
      std::string command = "evtexport '" + path + "' >/dev/null 2>&1";
      auto export_start = Clock::now();
      int status = std::system(command.c_str());
      double export_seconds =
          std::chrono::duration<double>(Clock::now() - export_start).count();
      std::printf("   evtexport on the same log: %.3f s (status %d)\n",
                  export_seconds, status);
    }
  }
  fs::remove_all(site, error);
  return 0;
}
