// Reads every record of logs of 10,000, 100,000 and 1,000,000 records one
// seek read at a time, as the monitor does, and prints the rate; then times
// evtexport on the 100,000-record log when it is installed; then reads a
// full 256 MiB log so, beside a plain scan of the same bytes in memory.
// Then, side by side, the processor time of a visit that finds no new
// record (open, oldest record, count, close) of full logs from empty to
// BENCH_MAX_MIB (default 1024) MiB, and the time and peak resident size of
// one visit of a damaged log of that size (a header and nothing else).
// A figure, not a test.
//
// Usage: event_log_bench [reads | visits | fill PATH MIB]: the reads, the
// visits, or both (the default); "fill" writes a full log of MIB MiB at
// PATH, for bench/idle_watch.sh.

#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/locked_file.h"
#include "winformat/evt_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How often each log is read; the best time counts.
constexpr int kRuns = 3;
// The monitor's first buffer size.
constexpr std::uint32_t kReadBufferSize = 512;

// Writes a log of |max_size| bytes at |path| holding |records| records, or,
// for 0, records until it is full and has wrapped once (none for a
// |max_size| of 0, an empty log).
bool WriteLog(const std::string& path, std::uint32_t max_size,
              std::uint32_t records) {
  auto file = sentory::MakeSystemFileAccess()->Open(
      path, sentory::FileAccess::Mode::kCreate);
  if (!file) return false;
  sentory::EvtWriter writer(file.get());
  if (!writer.Begin(max_size)) return false;
  for (std::uint32_t n = 1; max_size > 0 && (records == 0 || n <= records);
       ++n) {
    sentory::EvtEvent event;
    event.time_generated = event.time_written = 1700000000u + n;
    event.event_id = 7000u + n % 50;
    event.type = 4;
    event.source = "Service Control Manager";
    event.computer = "BENCH";
    event.strings = {"Service " + std::to_string(n), "running"};
    if (!writer.Append(event)) return false;
    if (records == 0 && writer.state().oldest > 1) break;
  }
  return writer.Finish();
}

// A log of |records| records with room for every one (about 150 bytes
// each) without wrapping.
bool MakeLog(const std::string& path, std::uint32_t records) {
  return WriteLog(path, records * 200u + 0x10000u, records);
}

// A log of |bytes| that has wrapped once; an empty log for 0.
bool MakeFullLog(const std::string& path, std::uint32_t bytes) {
  return WriteLog(path, bytes, 0);
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

// The processor time, in seconds, of |visits| visits of the log that find
// no new record, through one service as the monitor keeps one.
double VisitCpu(sentory::EventLogService* service, int visits) {
  std::clock_t start = std::clock();
  for (int i = 0; i < visits; ++i) {
    auto log = service->OpenEventLog("BENCH", "System");
    std::uint32_t oldest = 0, count = 0;
    if (log != nullptr) {
      service->GetOldestEventLogRecord(log, &oldest);
      service->GetNumberOfEventLogRecords(log, &count);
      service->CloseEventLog(log);
    }
  }
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

long PeakKib() {
  struct rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Idle visits of logs of growing size, and one damaged log.
int Visits(const fs::path& site) {
  const char* max = std::getenv("BENCH_MAX_MIB");
  std::uint32_t max_mib = max != nullptr ? std::atoi(max) : 1024;
  std::string path = (site / "BENCH" / "System.evt").string();
  std::error_code error;
  // The damaged log first, while the peak is still the bench's own.
  {
    fs::remove(path, error);
    if (!MakeFullLog(path, 0)) return 1;
    fs::resize_file(path, 0x30, error);
    fs::resize_file(path, std::uint64_t{max_mib} << 20, error);
    // Damaged a while ago, as a log copied in keeps its time.
    fs::last_write_time(
        path, fs::file_time_type::clock::now() - std::chrono::minutes(1),
        error);
    auto service = sentory::MakeSystemEventLog();
    long before = PeakKib();
    auto start = Clock::now();
    double first = VisitCpu(service.get(), 1);
    double took = std::chrono::duration<double>(Clock::now() - start).count();
    double again = VisitCpu(service.get(), 20) / 20;
    std::printf(
        "damaged log of %u MiB: first visit %.3f s (processor %.3f s), peak "
        "resident %ld KiB before, %ld KiB after; each later visit %.1f us\n",
        max_mib, took, first, before, PeakKib(), again * 1e6);
  }
  double empty_cost = 0;
  for (std::uint32_t mib : {0u, 4u, 64u, 256u, 1024u}) {
    if (mib > max_mib) break;
    fs::remove(path, error);
    if (!MakeFullLog(path, mib << 20)) return 1;
    auto service = sentory::MakeSystemEventLog();
    VisitCpu(service.get(), 1);  // the first visit learns the log
    const int kVisits = 200;
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
      double cpu = VisitCpu(service.get(), kVisits) / kVisits;
      if (run == 0 || cpu < best) best = cpu;
    }
    if (mib == 0) empty_cost = best;
    std::printf(
        "visit with no new record, log of %4u MiB: %.1f us processor time "
        "(%.2f x the empty log's); peak resident %ld KiB\n",
        mib, best * 1e6, best / empty_cost, PeakKib());
  }
  return 0;
}

// A plain scan in memory of the bytes a reader of the log in |bytes| goes
// through: the records from the oldest to the end-of-file record, walked by
// their lengths to count them, and every byte of them summed. Returns the
// number of records.
std::uint32_t ScanInMemory(const std::vector<std::uint8_t>& bytes,
                           std::uint32_t begin, std::uint32_t end,
                           std::uint64_t* sum) {
  auto get32 = [&bytes](std::uint32_t at) {
    std::uint32_t v;
    std::memcpy(&v, &bytes[at], 4);
    return v;
  };
  auto add = [&bytes, sum](std::uint32_t from, std::uint32_t to) {
    std::uint64_t total = 0;
    std::uint32_t at = from;
    for (; at + 8 <= to; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, &bytes[at], 8);
      total += word;
    }
    for (; at < to; ++at) total += bytes[at];
    *sum += total;
  };
  std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  if (begin <= end) {
    add(begin, end);
  } else {
    add(begin, size);
    add(sentory::kEvtHeaderSize, end);
  }
  std::uint32_t walked = 0;
  for (std::uint32_t at = begin; at != end;) {
    std::uint32_t length = size - at >= 8 ? get32(at) : 0;
    if (length < 8 || get32(at + 4) != sentory::kEvtSignature) {
      at = sentory::kEvtHeaderSize;  // padding before the end of the file
      continue;
    }
    ++walked;
    at += length;
    if (at >= size) at = at - size + sentory::kEvtHeaderSize;
  }
  return walked;
}

// Reads the new records of a full log of 256 MiB as the monitor does, and
// scans the same bytes in memory.
int BigRead(const fs::path& site) {
  std::string path = (site / "BENCH" / "System.evt").string();
  std::error_code error;
  fs::remove(path, error);
  if (!MakeFullLog(path, 256u << 20)) return 1;
  double seconds = 0;
  std::uint32_t records = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto service = sentory::MakeSystemEventLog();
    auto start = Clock::now();
    records = ReadAll(service.get());
    double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (records == 0) return 1;
    if (run == 0 || took < seconds) seconds = took;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  auto file = sentory::MakeMemoryFile(std::string(bytes.begin(), bytes.end()));
  sentory::EvtState state;
  if (!sentory::ReadEvtState(file.get(), &state)) return 1;
  double scan = 0;
  std::uint64_t sum = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    std::uint32_t walked = ScanInMemory(bytes, state.begin, state.end, &sum);
    double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (walked != records) {
      std::fprintf(stderr, "scanned %u of %u records\n", walked, records);
      return 1;
    }
    if (run == 0 || took < scan) scan = took;
  }
  std::printf(
      "full log of 256 MiB, %u records: read in %.3f s, %.2f M records/s; "
      "scanned in memory in %.4f s, %.1f M records/s; %.1f x the scan "
      "(checksum %llu)\n",
      records, seconds, records / seconds / 1e6, scan, records / scan / 1e6,
      seconds / scan, static_cast<unsigned long long>(sum % 1000));
  return 0;
}

int Reads(const fs::path& site) {
  std::string path = (site / "BENCH" / "System.evt").string();
  std::error_code error;
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
  return BigRead(site);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "fill") {
    if (argc != 4) {
      std::fprintf(stderr, "usage: event_log_bench fill PATH MIB\n");
      return 2;
    }
    std::error_code error;
    fs::remove(argv[2], error);
    return MakeFullLog(argv[2], std::uint32_t(std::atoi(argv[3])) << 20) ? 0
                                                                         : 1;
  }
  if (!mode.empty() && mode != "reads" && mode != "visits") {
    std::fprintf(stderr,
                 "usage: event_log_bench [reads | visits | fill PATH MIB]\n");
    return 2;
  }
  fs::path site = fs::temp_directory_path() / "sentory-event-log-bench";
  std::error_code error;
  fs::remove_all(site, error);
  fs::create_directories(site / "BENCH");
  setenv("SENTORY_ROOT", site.c_str(), 1);
  int status = mode != "visits" ? Reads(site) : 0;
  if (status == 0 && mode != "reads") status = Visits(site);
  fs::remove_all(site, error);
  return status;
}
