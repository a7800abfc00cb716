// Running the built programs from the end-to-end tests, and the fixture they
// all share: a site, its environment, the monitor and a paging terminal.
#ifndef SENTORY_TESTS_CHILD_PROCESS_H_
#define SENTORY_TESTS_CHILD_PROCESS_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace sentory {

using Words = std::vector<std::string>;

/// The banner the program prints first, and again at the head of a log file.
inline constexpr char kBanner[] =
    "\nQuorvane (Sentory) V2.1.1\n"
    "  Generate alerts from NT event logs to alphanumeric pager or external "
    "program.\n  Written and maintained by the Sentory developers.\n\n";
inline constexpr char kScanning[] = "Scanning event logs (ctrl-c to quit)...\n";

/// A built program, its output and errors in files (Wine keeps pipes open).
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  /// Starts |argv| with |env| added (a later entry replaces an earlier one),
  /// in |folder| unless empty, SIGINT, SIGQUIT, SIGTERM and SIGHUP at their
  /// default and unblocked whatever this process's state (nohup, a job).
  bool Start(const Words& argv, const Words& env = {},
             const std::string& folder = "");
  /// The exit status, 128 + the ending signal, or -1 (then killed) when it
  /// did not end in |seconds|.
  int Wait(double seconds = 60);
  /// Signals |signal_number| and waits up to |seconds| for the end.
  int Stop(int signal_number, double seconds = 60);
  void Signal(int signal_number);
  /// Waits up to |seconds| until standard output holds |text| |count| times.
  bool WaitForOutput(const std::string& text, double seconds = 30,
                     int count = 1);
  /// The next Start() sends output to |path| (a FIFO); Output() gives "".
  void SendOutputTo(const std::string& path) { output_to_ = path; }
  std::string Output() const;  // without carriage returns
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  std::string out_path_, err_path_, output_to_;
};

/// Runs |argv| to its end; returns its exit status, its output in |output|.
int RunToEnd(const Words& argv, std::string* output, const Words& env = {},
             const std::string& folder = "");
/// The built program |name| of the Linux build.
std::string Built(const std::string& name);
/// The Sentory under test with |words|: the Linux build's, or SENTORY_EXE
/// run by SENTORY_RUNNER (wine and the Windows build's sentory.exe).
Words SentoryCommand(const Words& words);
/// True when the program under test is the Windows build.
bool TestingWindowsBuild();
/// Stops the Wine server, so that Wine reads its registry afresh, and starts
/// it again, to stay up, with its services on /dev/null: they outlive the
/// program that starts them and keep its streams, so no program a test runs
/// may be the one that does.
void RestartWine();
/// How many times |piece| occurs in |text|, overlaps counted.
int CountOf(const std::string& text, const std::string& piece);
/// Waits up to |seconds| until the file at |path| holds |text| |count| times.
bool WaitForFileText(const std::string& path, const std::string& text,
                     double seconds = 30, int count = 1);
/// The content of the file at |path| ("" without one), without CRs.
std::string ReadFileText(const std::string& path);
/// The second lines of the alert blocks in |output|, without their blank.
Words Alerts(const std::string& output);

/// The fixture of every end-to-end test: a site (SENTORY_ROOT) with the alert
/// program in it, the environment of its programs, and helpers.
class SiteTest : public testing::Test {
 protected:
  /// The alert program: a script, or under Wine, which waits only for Windows
  /// programs, SENTORY_RECORD_ARGS_EXE (skips without). Both add their
  /// argument count and arguments, one a line, to SENTORY_RECORD_ARGS's
  /// file, after waiting SENTORY_RECORD_ARGS_DELAY_MS.
  void SetUp() override;
  /// Ends the monitor, restarts Wine's server (it lets go of a port, and no
  /// program of the next test starts Wine's services), removes the site.
  void TearDown() override;

  /// The site's |name|, made as a folder when |folder|.
  std::string At(const std::string& name, bool folder = false) const;
  /// Runs |argv| in the site's environment; returns its exit status, its
  /// output and errors in out_ and err_.
  int Run(const Words& argv);
  /// Runs sentory-eventlog with |words| split at blanks, then |more|.
  int Tool(const std::string& words, const Words& more = {});
  /// Writes an event: Tool("write " + |words|, |texts|) must succeed.
  void Write(const std::string& words, const Words& texts = {});
  /// Starts the monitor with |words| after |prefix| (a starter), waits for
  /// |ready| and a second more, in which it visits its logs once.
  bool Start(ChildProcess& monitor, const Words& words,
             const Words& prefix = {},
             const std::string& ready = "Scanning event logs");
  /// Starts tap-terminal with |options| as the site's (and Wine's) COM1.
  bool StartTerminal(ChildProcess& terminal, const Words& options = {});
  /// Ends a terminal, under Wine after the server has let go of the port.
  int StopTerminal(ChildProcess& terminal);
  /// Registers rules64 for DEMO's System log's Disk source; false for the
  /// Windows build or without it.
  bool InstallMessageFile();

  std::string site_;  // a fresh folder
  Words env_;
  std::string program_, out_, err_;
  ChildProcess monitor_;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_CHILD_PROCESS_H_
