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

/// A built program, its standard output and error going to files (Wine
/// keeps pipes open, files are safe), carriage returns removed when read.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  /// Starts |argv| with |env| added to this environment (a later entry
  /// replaces an earlier one), in |folder| unless empty. SIGINT, SIGQUIT,
  /// SIGTERM and SIGHUP start with their default action, none blocked,
  /// whatever this process's own signal state (nohup, a background job).
  bool Start(const Words& argv, const Words& env = {},
             const std::string& folder = "");
  /// The exit status, 128 + the signal that ended it, or -1 when it did not
  /// end in |seconds| (it is then killed).
  int Wait(double seconds = 60);
  /// Signals |signal_number| and waits up to |seconds| for the end.
  int Stop(int signal_number, double seconds = 60);
  void Signal(int signal_number);
  /// Waits up to |seconds| until standard output holds |text| |count| times.
  bool WaitForOutput(const std::string& text, double seconds = 30,
                     int count = 1);
  /// The next Start() sends standard output to |path| (a FIFO), not to a
  /// file; Output() then gives "".
  void SendOutputTo(const std::string& path) { output_to_ = path; }
  std::string Output() const;
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
/// The Sentory program under test with |words|: the Linux build's, or, when
/// SENTORY_EXE is set, that program run through SENTORY_RUNNER (wine and
/// the Windows build's sentory.exe).
Words SentoryCommand(const Words& words);
/// True when the program under test is the Windows build.
bool TestingWindowsBuild();
/// Stops the Wine server, so that Wine reads its registry afresh, and
/// starts it again, to stay up, with Wine's background services on
/// /dev/null: they outlive the program that starts them and keep its
/// standard streams, so no program a test runs may be the one that does.
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

/// A fresh temporary folder, removed with its content when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

/// The fixture of every end-to-end test: a site (SENTORY_ROOT) in a fresh
/// folder with the alert program in it, the environment its programs get,
/// and helpers that write events and start the monitor and tap-terminal.
class SiteTest : public testing::Test {
 protected:
  /// The alert program is a script on Linux and, under Wine, which can wait
  /// only for a Windows program, the one SENTORY_RECORD_ARGS_EXE names (the
  /// test skips without it). Both add their argument count and arguments,
  /// one a line, to the file SENTORY_RECORD_ARGS names, after waiting
  /// SENTORY_RECORD_ARGS_DELAY_MS.
  void SetUp() override;
  /// Under Wine the server is restarted, so that it lets go of a port and
  /// no program of the next test starts Wine's services.
  void TearDown() override;

  /// The site's |name|, made as a folder when |folder|.
  std::string At(const std::string& name, bool folder = false) const;
  /// sentory-eventlog "write" with |words| split at blanks, then |texts|.
  void Write(const std::string& words, const Words& texts = {});
  /// Starts the monitor with |words|, after |prefix| (a starter), in the
  /// site; waits for |ready| and one second more, in which it visits its
  /// logs once.
  bool Start(ChildProcess& monitor, const Words& words,
             const Words& prefix = {},
             const std::string& ready = "Scanning event logs");
  /// Starts tap-terminal with |options| behind the site's COM1; under Wine
  /// COM1 is mapped to it in Wine's registry.
  bool StartTerminal(ChildProcess& terminal, const Words& options = {});
  /// Ends a terminal, under Wine after the server has let go of the port.
  int StopTerminal(ChildProcess& terminal);
  /// Puts the message file rules64 into the site as that of DEMO's System
  /// log's Disk source; false for the Windows build or without the file.
  bool InstallMessageFile();

  TempFolder site_;
  Words env_;
  std::string program_;
  ChildProcess monitor_;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_CHILD_PROCESS_H_
