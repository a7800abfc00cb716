// Runs the monitor's loop over one pass of new events that all raise alerts,
// with every service the real one of this system except the clock, whose
// tone and pauses cost nothing, and prints the processor time per alert:
// the record read, filtered, rendered with its message from a message file
// found through the machine's registry, and the alert block written to a
// log file; then, apart, the processor time of rendering the alert text
// alone. A figure, not a test; the goal is at most 20 us an alert. Last,
// side by side, the processor time this process spends on each run of the
// alert program "true" (as with "/R true") and on a bare start and wait of
// the same file; the goal is at most 1.5 times the bare one.
//
// Usage: alert_bench [message file]; the default is the test message file
// the build makes, message_files/rules64.dll beside this program.

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/run_state.h"
#include "app/scan_loop.h"
#include "eventlog/alert_text.h"
#include "winformat/evt_file.h"
#include "platform/locked_file.h"
#include "platform/platform.h"
#include "runner/alert_program.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using WallClock = std::chrono::steady_clock;

constexpr std::uint32_t kAlerts = 20000;
constexpr double kGoalMicroseconds = 20;
constexpr std::uint32_t kReadSize = 4096;  // more than one record needs
constexpr std::uint32_t kProgramRounds = 10;
constexpr std::uint32_t kProgramRuns = 200;  // in each round
constexpr double kProgramGoalRatio = 1.5;

// Message 1 of the test message file: "Inserts %1, %2 and %3."
constexpr std::uint32_t kMessageId = 1;
constexpr char kRegistry[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\"
    "System\\Bench]\r\n"
    "\"EventMessageFile\"=\"C:\\\\Bench\\\\rules.dll\"\r\n";

bool WriteEvents(sentory::LockedFile* file, std::uint32_t count) {
  sentory::EvtWriter writer(file);
  if (!writer.Begin(kAlerts * 300u)) return false;
  for (std::uint32_t n = 0; n < count; ++n) {
    sentory::EvtEvent event;
    event.time_generated = event.time_written = 1700000000u + n;
    event.event_id = kMessageId;
    event.type = 1;
    event.source = "Bench";
    event.computer = "BENCH";
    event.strings = {"disk C:", std::to_string(n), "the print spooler"};
    if (!writer.Append(event)) return false;
  }
  return writer.Finish();
}

// The system's clock without the tone and the pauses. The first pause, after
// the first visit took the empty log as seen, writes the events and starts
// the timing; the second, after the pass that alerted them, ends the run.
class BenchClock : public sentory::Clock {
 public:
  BenchClock(sentory::LockedFile* log, int figures, fs::path site)
      : log_(log), figures_(figures), site_(std::move(site)) {}

  std::int64_t Now() override { return system_->Now(); }
  bool ToLocalTime(std::int64_t time, sentory::CalendarTime* out) override {
    return system_->ToLocalTime(time, out);
  }
  void Beep(std::uint32_t, std::uint32_t) override {}
  void Sleep(std::uint32_t) override {
    if (++sleeps_ == 1) {
      if (!WriteEvents(log_, kAlerts)) Finish("cannot write the events\n");
      wall_start_ = WallClock::now();
      cpu_start_ = std::clock();
      return;
    }
    double cpu =
        static_cast<double>(std::clock() - cpu_start_) / CLOCKS_PER_SEC;
    double wall =
        std::chrono::duration<double>(WallClock::now() - wall_start_).count();
    std::fflush(stdout);
    std::uint32_t blocks = 0;
    std::string line, sample;
    std::ifstream alerts(site_ / "alerts.log");
    while (std::getline(alerts, line)) {
      if (line.rfind("***Alert time: ", 0) == 0) ++blocks;
      if (sample.empty() && line.rfind(" BENCH*", 0) == 0) sample = line;
    }
    if (blocks != kAlerts) {
      Finish("the pass wrote " + std::to_string(blocks) + " of " +
             std::to_string(kAlerts) + " alert blocks\n");
    }
    double per_alert = cpu * 1e6 / kAlerts;
    dprintf(figures_,
            "alerts: %u in one pass: %.3f s, processor time %.2f us an alert "
            "(%.2f us wall-clock); goal %.0f us: %s\n  first alert's "
            "text:%s\n  of which rendering the alert text: %.2f us\n",
            kAlerts, wall, per_alert, wall * 1e6 / kAlerts, kGoalMicroseconds,
            per_alert <= kGoalMicroseconds ? "met" : "NOT met", sample.c_str(),
            RenderingMicroseconds());
    ProgramFigures();
    Finish("");
  }

  sentory::Platform* platform = nullptr;

 private:
  // Processor time of RenderAlert alone, the same record again and again.
  double RenderingMicroseconds() {
    sentory::EventLogService& service = platform->event_log;
    auto log = service.OpenEventLog("BENCH", "System");
    sentory::EventRecord record;
    record.data = std::make_unique<std::uint8_t[]>(kReadSize);
    std::uint32_t needed = 0;
    if (log == nullptr ||
        !service.ReadEventLog(
            log, sentory::kEventLogSeekRead | sentory::kEventLogForwardsRead, 1,
            record.data.get(), kReadSize, &record.size, &needed)) {
      Finish("cannot read the first record again\n");
    }
    service.CloseEventLog(log);
    std::clock_t start = std::clock();
    for (std::uint32_t n = 0; n < kAlerts; ++n) {
      sentory::RenderAlert(platform->registry, platform->messages, record,
                           "System");
    }
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC * 1e6 /
           kAlerts;
  }

  // Processor time of this process per run of the alert program "true",
  // and per bare posix_spawn and waitpid of the file it resolves to.
  void ProgramFigures() {
    std::string path;
    const char* search = std::getenv("PATH");
    std::string folders = search != nullptr ? search : "/bin:/usr/bin";
    for (std::size_t start = 0; path.empty() && start <= folders.size();) {
      std::size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      std::string candidate = folders.substr(start, end - start) + "/true";
      if (access(candidate.c_str(), X_OK) == 0) path = candidate;
      start = end + 1;
    }
    if (path.empty()) Finish("no program true along PATH\n");
    sentory::OutputStream out(platform->console);
    char* const argv[] = {const_cast<char*>("true"), nullptr};
    // Rounds of each in turn, and the quickest round of each, so that other
    // work on the machine weighs on both alike.
    double program = 0, bare = 0;
    for (std::uint32_t round = 0; round < kProgramRounds; ++round) {
      std::clock_t start = std::clock();
      for (std::uint32_t n = 0; n < kProgramRuns; ++n) {
        if (sentory::RunAlertProgram(platform->process, out, "true", "time",
                                     "text") != 0) {
          Finish("the alert program true did not start\n");
        }
      }
      double each = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC *
                    1e6 / kProgramRuns;
      if (round == 0 || each < program) program = each;
      start = std::clock();
      for (std::uint32_t n = 0; n < kProgramRuns; ++n) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) !=
                0 ||
            waitpid(pid, &status, 0) != pid) {
          Finish("cannot start " + path + "\n");
        }
      }
      each = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC * 1e6 /
             kProgramRuns;
      if (round == 0 || each < bare) bare = each;
    }
    dprintf(figures_,
            "alert program true: %.2f us an alert, bare start and wait of %s: "
            "%.2f us (%.2f times); goal %.1f times: %s\n",
            program, path.c_str(), bare, program / bare, kProgramGoalRatio,
            program <= kProgramGoalRatio * bare ? "met" : "NOT met");
  }

  [[noreturn]] void Finish(const std::string& failure) {
    if (!failure.empty()) dprintf(figures_, "%s", failure.c_str());
    std::error_code error;
    fs::remove_all(site_, error);
    std::_Exit(failure.empty() ? 0 : 1);
  }

  std::unique_ptr<sentory::Clock> system_ = sentory::MakeSystemClock();
  sentory::LockedFile* log_;
  int figures_;
  fs::path site_;
  int sleeps_ = 0;
  WallClock::time_point wall_start_;
  std::clock_t cpu_start_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  fs::path message_file = argc > 1 ? fs::path(argv[1])
                                   : fs::absolute(argv[0]).parent_path() /
                                         "message_files" / "rules64.dll";
  if (!fs::exists(message_file)) {
    std::fprintf(stderr, "no message file %s (give one as the argument)\n",
                 message_file.c_str());
    return 1;
  }
  fs::path site = fs::temp_directory_path() / "sentory-alert-bench";
  std::error_code error;
  fs::remove_all(site, error);
  fs::create_directories(site / "BENCH");
  fs::create_directories(site / "drives" / "c" / "bench");
  fs::copy_file(message_file, site / "drives" / "c" / "bench" / "rules.dll",
                error);
  std::ofstream(site / "BENCH" / "registry.reg", std::ios::binary) << kRegistry;
  setenv("SENTORY_ROOT", site.c_str(), 1);
  auto log = sentory::MakeSystemFileAccess()->Open(
      (site / "BENCH" / "System.evt").string(),
      sentory::FileAccess::Mode::kCreate);
  if (error || !log || !WriteEvents(log.get(), 0)) {
    std::fprintf(stderr, "cannot make the site in %s\n", site.c_str());
    return 1;
  }

  auto console = sentory::MakeSystemConsole();
  auto event_log = sentory::MakeSystemEventLog();
  auto registry = sentory::MakeSystemRegistry();
  auto messages = sentory::MakeSystemMessageModules();
  auto files = sentory::MakeSystemFileMapper();
  auto process = sentory::MakeSystemProcessLauncher();
  auto serial_ports = sentory::MakeSystemSerialPorts();
  // The figures go to standard output as it is now; the loop's output, as
  // with "/L", to a file.
  int figures = dup(STDOUT_FILENO);
  std::string alerts_path = (site / "alerts.log").string();
  if (figures < 0 || !console->ReopenOutput(alerts_path.c_str())) {
    std::fprintf(stderr, "cannot open %s\n", alerts_path.c_str());
    return 1;
  }
  BenchClock clock(log.get(), figures, site);
  sentory::Platform platform{*console,  clock,  *event_log, *registry,
                             *messages, *files, *process,   *serial_ports};
  clock.platform = &platform;
  static const char* const kWords[] = {"bench", "/M0", "BENCH",
                                       "/SYS",  "/S",  "EWISF"};
  static sentory::RunState state(platform);
  state.options.ParseCommandLine(6, kWords);
  sentory::ParseSeverities("EWISF", &state.severities);
  state.cursors.Reset(1);
  sentory::ScanAndAlert(state);
}
