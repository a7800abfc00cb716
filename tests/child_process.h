// The built programs run from the end-to-end tests, and the fixture they all
// share: a site, its environment, the monitor and a paging terminal.
#ifndef SENTORY_TESTS_CHILD_PROCESS_H_
#define SENTORY_TESTS_CHILD_PROCESS_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/message_files.h"

namespace sentory {
namespace fs = std::filesystem;
using Words = std::vector<std::string>;

inline constexpr char kBanner[] =
    "\nQuorvane (Sentory) V2.1.1\n"
    "  Generate alerts from NT event logs to alphanumeric pager or external "
    "program.\n  Written and maintained by the Sentory developers.\n\n";
inline constexpr char kScanning[] = "Scanning event logs (ctrl-c to quit)...\n";

inline std::string ReadFileText(const std::string& path) {  // without CRs
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  std::string text = content.str();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

inline int CountOf(const std::string& text, const std::string& piece) {
  int seen = 0;
  for (auto at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + 1)) {
    ++seen;
  }
  return seen;
}

// Polls |source| for up to |seconds| until it holds |text| |count| times.
inline bool WaitFor(const std::function<std::string()>& source,
                    const std::string& text, double seconds = 30,
                    int count = 1) {
  for (int i = 0; CountOf(source(), text) < count; ++i) {
    if (i > seconds * 50) return false;
    usleep(20000);
  }
  return true;
}

inline Words Split(const std::string& words) {  // at blanks
  std::istringstream in(words);
  Words split;
  for (std::string word; in >> word;) split.push_back(word);
  return split;
}

inline const char* Variable(const char* name) {  // nullptr when unset or ""
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

inline std::string Built(const std::string& name) {
  return std::string(SENTORY_BUILD_DIR) + "/" + name;
}

// The Linux build's sentory, or SENTORY_EXE run by SENTORY_RUNNER (wine).
inline Words SentoryCommand(const Words& words) {
  Words command = {Variable("SENTORY_EXE") ? Variable("SENTORY_EXE")
                                           : Built("sentory")};
  if (const char* runner = Variable("SENTORY_RUNNER")) {
    command.insert(command.begin(), runner);
  }
  command.insert(command.end(), words.begin(), words.end());
  return command;
}

inline bool TestingWindowsBuild() {
  const char* exe = Variable("SENTORY_EXE");
  return exe != nullptr && std::strstr(exe, ".exe") != nullptr;
}

// Restarts the Wine server (to read its registry afresh) and its services on
// /dev/null: they keep the streams of the program that starts them.
inline void RestartWine() {
  std::system(
      "wineserver -k; wineserver -w; wineserver -p </dev/null >/dev/null 2>&1 "
      "&& wine cmd /c exit 0 </dev/null >/dev/null 2>&1");
}

// The second lines of the alert blocks in |output|, without their blank.
inline Words Alerts(const std::string& output) {
  Words alerts;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("***Alert time: ", 0) == 0 && std::getline(in, line)) {
      alerts.push_back(line.substr(1));
    }
  }
  return alerts;
}

// A built program, its output and errors in files (Wine keeps pipes open).
class ChildProcess {
 public:
  ~ChildProcess() {
    Stop(SIGKILL);
    unlink(out_.c_str());
    unlink(err_.c_str());
  }
  // Starts |argv| in |folder| with |env| added, its stop signals at default.
  bool Start(Words argv, Words env, const std::string& folder) {
    char out[] = "/tmp/sentory-out-XXXXXX", err[] = "/tmp/sentory-err-XXXXXX";
    int out_fd = mkstemp(out), err_fd = mkstemp(err);
    out_ = out;
    err_ = err;
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      for (std::string& e : env) putenv(e.data());
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(output_to.empty() ? out_fd : open(output_to.c_str(), O_WRONLY), 1);
      dup2(err_fd, 2);
      if (chdir(folder.c_str()) == 0) execvp(args[0], args.data());
      _exit(127);
    }
    close(out_fd);
    close(err_fd);
    return pid_ > 0;
  }
  // Sends |signal_number| (none: 0), then gives the exit status, 128 + the
  // ending signal, or -1 (then killed) when it did not end in |seconds|.
  int Stop(int signal_number = 0, double seconds = 60) {
    if (pid_ <= 0) return -1;
    if (signal_number != 0) kill(pid_, signal_number);
    int status = 0, i = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_ && i++ < seconds * 50) {
      usleep(20000);
    }
    if (i > seconds * 50) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return i > seconds * 50    ? -1
           : WIFEXITED(status) ? WEXITSTATUS(status)
                               : 128 + WTERMSIG(status);
  }
  bool WaitForOutput(const std::string& text, double seconds = 30,
                     int count = 1) {
    return WaitFor([this] { return Output(); }, text, seconds, count);
  }
  std::string Output() const { return ReadFileText(out_); }
  std::string Errors() const { return ReadFileText(err_); }
  std::string output_to;  // when set, a FIFO standard output is opened on

 private:
  pid_t pid_ = -1;
  std::string out_, err_;
};

// A site (SENTORY_ROOT) and an alert program_ adding its argument count and
// arguments to SENTORY_RECORD_ARGS after SENTORY_RECORD_ARGS_DELAY_MS.
class SiteTest : public testing::Test {
 protected:
  void SetUp() override {
    site_ = (fs::temp_directory_path() / "sentory-XXXXXX").string();
    ASSERT_NE(mkdtemp(site_.data()), nullptr);
    env_ = {"SENTORY_ROOT=" + site_, "TZ=UTC", "SENTORY_RECORD_ARGS=runs.txt"};
    if (TestingWindowsBuild()) {
      const char* program = Variable("SENTORY_RECORD_ARGS_EXE");
      if (program == nullptr) GTEST_SKIP() << "no SENTORY_RECORD_ARGS_EXE";
      fs::copy_file(program, At(program_ = "record.exe"));
      return;
    }
    std::ofstream(At(program_ = "record.sh"))
        << "#!/bin/sh\n[ -n \"$SENTORY_RECORD_ARGS_DELAY_MS\" ] && "
           "sleep $((SENTORY_RECORD_ARGS_DELAY_MS / 1000))\n"
           "printf '%s\\n' \"$#\" \"$1\" \"$2\" >> \"$SENTORY_RECORD_ARGS\"\n";
    chmod(At(program_).c_str(), 0755);
  }
  // Under Wine, the server restarted lets go of a port.
  void TearDown() override {
    monitor_.Stop(SIGKILL);
    if (TestingWindowsBuild()) RestartWine();
    std::error_code ignored;
    if (!site_.empty()) fs::remove_all(site_, ignored);
  }
  // The site's |name|, made as a folder when |folder|.
  std::string At(const std::string& name, bool folder = false) const {
    if (folder) fs::create_directories(site_ + "/" + name);
    return site_ + "/" + name;
  }
  // Runs |argv| in the site to its end; its output and errors in out_, err_.
  int Run(const Words& argv) {
    ChildProcess child;
    if (!child.Start(argv, env_, site_)) return -1;
    int status = child.Stop();
    out_ = child.Output();
    err_ = child.Errors();
    return status;
  }
  // Runs sentory-eventlog with |words| split at blanks, then |more|.
  int Tool(const std::string& words, const Words& more = {}) {
    Words command = Split(Built("sentory-eventlog") + " " + words);
    command.insert(command.end(), more.begin(), more.end());
    return Run(command);
  }
  void Write(const std::string& words, const Words& texts = {}) {
    ASSERT_EQ(Tool("write " + words, texts), 0) << words << err_;
  }
  // Starts the monitor after |prefix|, waits for |ready| and a log visit.
  bool Start(ChildProcess& monitor, const std::string& words, Words prefix = {},
             const std::string& ready = "Scanning event") {
    Words sentory = SentoryCommand(Split(words));
    prefix.insert(prefix.end(), sentory.begin(), sentory.end());
    if (!monitor.Start(prefix, env_, site_)) return false;
    bool started = monitor.WaitForOutput(ready, 60);
    sleep(1);
    return started;
  }
  // Starts tap-terminal with |options| as the site's (and Wine's) COM1.
  bool StartTerminal(ChildProcess& terminal, const std::string& options = "") {
    const std::string link = At("dev/com1");
    terminal.Start(
        Split(Built("tap-terminal") + " --link " + link + " " + options), env_,
        site_);
    for (int i = 0; i < 250 && !fs::exists(link); ++i) usleep(20000);
    if (!TestingWindowsBuild()) return fs::exists(link);
    // The mapping takes effect when the Wine server starts again.
    std::string add =
        "wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM1 /t "
        "REG_SZ /f /d " +
        fs::read_symlink(link).string() + " </dev/null >/dev/null 2>&1";
    bool mapped = std::system(add.c_str()) == 0;
    RestartWine();
    return mapped;
  }
  // Ends a terminal, under Wine after the server has let go of the port.
  int StopTerminal(ChildProcess& terminal) {
    if (TestingWindowsBuild()) RestartWine();
    return terminal.Stop(SIGTERM, 5);
  }
  // Registers rules64 for DEMO's System log's Disk source (Linux build only).
  bool InstallMessageFile() {
    std::string image = ReadMessageFile("rules64");
    if (TestingWindowsBuild() || image.empty()) return false;
    std::ofstream(At("drives/c/msg", true) + "/rules.dll", std::ios::binary)
        << image;
    std::ofstream(At("DEMO", true) + "/registry.reg")
        << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet"
           "\\Services\\EventLog\\System\\Disk]\n"
           "\"EventMessageFile\"=\"C:\\\\msg\\\\rules.dll\"\n";
    return true;
  }

  std::string site_, program_, out_, err_;
  Words env_;
  ChildProcess monitor_;
};

}  // namespace sentory

#endif  // SENTORY_TESTS_CHILD_PROCESS_H_
