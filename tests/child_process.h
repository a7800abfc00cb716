#ifndef SENTORY_TESTS_CHILD_PROCESS_H_
#define SENTORY_TESTS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace sentory {

/// The banner the program prints first, and again at the head of a log file.
inline constexpr char kBanner[] =
    "\n"
    "Quorvane (Sentory) V2.1.1\n"
    "  Generate alerts from NT event logs to alphanumeric pager or external "
    "program.\n"
    "  Written and maintained by the Sentory developers.\n"
    "\n";

/// A built program started by an end-to-end test, its standard output and
/// error going to files (Wine keeps pipes open, files are safe).
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  /// Starts |argv| with |env| added to this process's environment, in
  /// |folder| when it is not empty. Returns false when it cannot start.
  /// SIGINT, SIGQUIT, SIGTERM and SIGHUP start with their default action and
  /// no signal blocked, whatever this process's own signal state (nohup, a
  /// background job), so tests of what a signal does hold everywhere.
  bool Start(const std::vector<std::string>& argv,
             const std::vector<std::string>& env = {},
             const std::string& folder = "");

  /// Waits up to |seconds| for the program to end; returns its exit status,
  /// 128 + the signal when a signal ended it, or -1 on time-out (the program
  /// is then killed).
  int Wait(double seconds = 60);

  /// Waits up to |seconds| until standard output holds |text| |count| times.
  bool WaitForOutput(const std::string& text, double seconds = 30,
                     int count = 1);

  /// Makes the next Start() send standard output to |path| (for example a
  /// FIFO) instead of a file of its own; Output() then gives "".
  void SendOutputTo(const std::string& path) { output_to_ = path; }

  /// Sends |signal_number| to the program.
  void Signal(int signal_number);

  /// Standard output and error so far, carriage returns removed.
  std::string Output() const;
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  std::string out_path_;
  std::string err_path_;
  std::string output_to_;
};

/// Runs |argv| to its end and returns its exit status; |output| receives its
/// standard output with carriage returns removed.
int RunToEnd(const std::vector<std::string>& argv, std::string* output,
             const std::vector<std::string>& env = {},
             const std::string& folder = "");

/// The command that starts the Sentory program under test with |words|: the
/// Linux build's sentory, or, when SENTORY_EXE is set, that program run
/// through SENTORY_RUNNER (for example wine and the Windows build's
/// sentory.exe).
std::vector<std::string> SentoryCommand(
    const std::vector<std::string>& words = {});

/// True when the program under test is the Windows build.
bool TestingWindowsBuild();

/// Stops the Wine server, so that Wine reads its registry afresh, and
/// starts it again, to stay up, with Wine's background services on
/// /dev/null: they outlive the program that starts them and keep its
/// standard streams, so no program a test runs may be the one that does.
void RestartWine();

/// A fresh, empty temporary folder, removed with its content when the
/// object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// Puts an alert program into |folder| and returns its name there: a script
/// on Linux, and under Wine, which can wait only for a Windows program, the
/// program named by SENTORY_RECORD_ARGS_EXE ("" when that is not set). Both
/// add their argument count and arguments, one a line, at the end of the
/// file SENTORY_RECORD_ARGS names, after waiting SENTORY_RECORD_ARGS_DELAY_MS
/// when that is set.
std::string InstallAlertProgram(const std::string& folder);

/// How many times |piece| occurs in |text|, overlaps counted.
int CountOf(const std::string& text, const std::string& piece);

/// Waits up to |seconds| until the file at |path| holds |text| |count| times.
bool WaitForFileText(const std::string& path, const std::string& text,
                     double seconds = 30, int count = 1);

/// The whole content of the file at |path| ("" when it cannot be read),
/// carriage returns removed.
std::string ReadFileText(const std::string& path);

}  // namespace sentory

#endif  // SENTORY_TESTS_CHILD_PROCESS_H_
