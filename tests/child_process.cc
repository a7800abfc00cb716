#include "tests/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/message_files.h"

extern char** environ;

namespace sentory {
namespace fs = std::filesystem;
namespace {

// Polls |source| until it holds |text| |count| times or |seconds| pass.
bool WaitForText(const std::function<std::string()>& source,
                 const std::string& text, double seconds, int count) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (CountOf(source(), text) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

ChildProcess::~ChildProcess() {
  Stop(SIGKILL);
  unlink(out_path_.c_str());
  unlink(err_path_.c_str());
}

bool ChildProcess::Start(const Words& argv, const Words& env,
                         const std::string& folder) {
  char out_template[] = "/tmp/sentory-out-XXXXXX";
  char err_template[] = "/tmp/sentory-err-XXXXXX";
  int out_fd = mkstemp(out_template), err_fd = mkstemp(err_template);
  out_path_ = out_template;
  err_path_ = err_template;
  Words environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& added : env) {
    std::string name = added.substr(0, added.find('=') + 1);
    environment.erase(std::remove_if(environment.begin(), environment.end(),
                                     [&](const std::string& e) {
                                       return e.rfind(name, 0) == 0;
                                     }),
                      environment.end());
    environment.push_back(added);
  }
  Words args = argv;
  std::vector<char*> env_pointers, arg_pointers;
  for (std::string& e : environment) env_pointers.push_back(e.data());
  for (std::string& a : args) arg_pointers.push_back(a.data());
  env_pointers.push_back(nullptr);
  arg_pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  if (output_to_.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                     output_to_.c_str(), O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigemptyset(&none);
  for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    sigaddset(&defaults, signal_number);
  }
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::string previous_folder = fs::current_path().string();
  if (!folder.empty()) fs::current_path(folder);
  int result = posix_spawnp(&pid_, arg_pointers[0], &actions, &attributes,
                            arg_pointers.data(), env_pointers.data());
  fs::current_path(previous_folder);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  if (result != 0) pid_ = -1;
  return result == 0;
}

int ChildProcess::Wait(double seconds) {
  int status = 0;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (pid_ <= 0) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

int ChildProcess::Stop(int signal_number, double seconds) {
  Signal(signal_number);
  return Wait(seconds);
}

bool ChildProcess::WaitForOutput(const std::string& text, double seconds,
                                 int count) {
  return WaitForText([this] { return Output(); }, text, seconds, count);
}

std::string ChildProcess::Output() const { return ReadFileText(out_path_); }
std::string ChildProcess::Errors() const { return ReadFileText(err_path_); }

int CountOf(const std::string& text, const std::string& piece) {
  int seen = 0;
  for (std::size_t pos = text.find(piece); pos != std::string::npos;
       pos = text.find(piece, pos + 1)) {
    ++seen;
  }
  return seen;
}

bool WaitForFileText(const std::string& path, const std::string& text,
                     double seconds, int count) {
  return WaitForText([&path] { return ReadFileText(path); }, text, seconds,
                     count);
}

int RunToEnd(const Words& argv, std::string* output, const Words& env,
             const std::string& folder) {
  ChildProcess child;
  if (!child.Start(argv, env, folder)) return -1;
  int status = child.Wait();
  if (output != nullptr) *output = child.Output();
  return status;
}

std::string Built(const std::string& name) {
  return std::string(SENTORY_BUILD_DIR) + "/" + name;
}

Words SentoryCommand(const Words& words) {
  Words command = {Built("sentory")};
  if (const char* exe = Variable("SENTORY_EXE")) {
    command = {exe};
    if (const char* runner = Variable("SENTORY_RUNNER")) {
      command.insert(command.begin(), runner);
    }
  }
  command.insert(command.end(), words.begin(), words.end());
  return command;
}

void RestartWine() {
  RunToEnd({"wineserver", "-k"}, nullptr);
  RunToEnd({"wineserver", "-w"}, nullptr);
  RunToEnd({"sh", "-c",
            "wineserver -p </dev/null >/dev/null 2>&1 && "
            "exec wine cmd /c exit 0 </dev/null >/dev/null 2>&1"},
           nullptr);
}

bool TestingWindowsBuild() {
  const char* exe = Variable("SENTORY_EXE");
  return exe != nullptr && std::strstr(exe, ".exe") != nullptr;
}

Words Alerts(const std::string& output) {
  Words alerts;
  std::size_t pos = 0;
  while ((pos = output.find("***Alert time: ", pos)) != std::string::npos) {
    std::size_t line = output.find('\n', pos) + 1;
    std::size_t end = output.find('\n', line);
    if (end == std::string::npos) break;
    alerts.push_back(output.substr(line + 1, end - line - 1));
    pos = end;
  }
  return alerts;
}

void SiteTest::SetUp() {
  site_ = (fs::temp_directory_path() / "sentory-XXXXXX").string();
  ASSERT_NE(mkdtemp(site_.data()), nullptr);
  env_ = {"SENTORY_ROOT=" + site_, "TZ=UTC", "SENTORY_RECORD_ARGS=runs.txt"};
  if (TestingWindowsBuild()) {
    const char* program = Variable("SENTORY_RECORD_ARGS_EXE");
    if (program == nullptr) {
      GTEST_SKIP() << "SENTORY_RECORD_ARGS_EXE not set";
    }
    fs::copy_file(program, At("record.exe"));
    program_ = "record.exe";
    return;
  }
  std::ofstream(At("record.sh"))
      << "#!/bin/sh\n"
         "[ -n \"$SENTORY_RECORD_ARGS_DELAY_MS\" ] && "
         "sleep $((SENTORY_RECORD_ARGS_DELAY_MS / 1000))\n"
         "printf '%s\\n' \"$#\" \"$1\" \"$2\" "
         ">> \"$SENTORY_RECORD_ARGS\"\n";
  chmod(At("record.sh").c_str(), 0755);
  program_ = "record.sh";
}

void SiteTest::TearDown() {
  monitor_.Stop(SIGKILL);
  if (TestingWindowsBuild()) RestartWine();
  std::error_code ignored;
  if (!site_.empty()) fs::remove_all(site_, ignored);
}

std::string SiteTest::At(const std::string& name, bool folder) const {
  std::string path = site_ + "/" + name;
  if (folder) fs::create_directories(path);
  return path;
}

int SiteTest::Run(const Words& argv) {
  ChildProcess child;
  if (!child.Start(argv, env_)) return -1;
  int status = child.Wait();
  out_ = child.Output();
  err_ = child.Errors();
  return status;
}

int SiteTest::Tool(const std::string& words, const Words& more) {
  Words command = {Built("sentory-eventlog")};
  std::istringstream in(words);
  for (std::string word; in >> word;) command.push_back(word);
  command.insert(command.end(), more.begin(), more.end());
  return Run(command);
}

void SiteTest::Write(const std::string& words, const Words& texts) {
  ASSERT_EQ(Tool("write " + words, texts), 0) << words << err_;
}

bool SiteTest::Start(ChildProcess& monitor, const Words& words,
                     const Words& prefix, const std::string& ready) {
  Words command = prefix, sentory = SentoryCommand(words);
  command.insert(command.end(), sentory.begin(), sentory.end());
  if (!monitor.Start(command, env_, site_)) return false;
  bool started = monitor.WaitForOutput(ready, 60);
  sleep(1);
  return started;
}

bool SiteTest::StartTerminal(ChildProcess& terminal, const Words& options) {
  Words command = {Built("tap-terminal"), "--link", At("dev/com1")};
  command.insert(command.end(), options.begin(), options.end());
  if (!terminal.Start(command, env_)) return false;
  for (int i = 0; i < 250 && !fs::exists(At("dev/com1")); ++i) {
    usleep(20000);
  }
  if (!TestingWindowsBuild()) return fs::exists(At("dev/com1"));
  // The mapping takes effect when the Wine server starts again.
  std::string device = fs::read_symlink(At("dev/com1")).string();
  bool mapped = RunToEnd({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports",
                          "/v", "COM1", "/t", "REG_SZ", "/d", device, "/f"},
                         nullptr) == 0;
  RestartWine();
  return mapped;
}

int SiteTest::StopTerminal(ChildProcess& terminal) {
  if (TestingWindowsBuild()) RestartWine();
  return terminal.Stop(SIGTERM, 5);
}

bool SiteTest::InstallMessageFile() {
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

}  // namespace sentory
