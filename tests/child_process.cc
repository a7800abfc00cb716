#include "tests/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace sentory {
namespace {

std::string WithoutCarriageReturns(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

int StatusOf(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

}  // namespace

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return WithoutCarriageReturns(content.str());
}

std::string InstallAlertProgram(const std::string& folder) {
  if (TestingWindowsBuild()) {
    const char* program = std::getenv("SENTORY_RECORD_ARGS_EXE");
    if (program == nullptr || *program == '\0') return "";
    std::filesystem::copy_file(program, folder + "/record.exe");
    return "record.exe";
  }
  std::string script = folder + "/record.sh";
  std::ofstream(script) << "#!/bin/sh\n"
                           "[ -n \"$SENTORY_RECORD_ARGS_DELAY_MS\" ] && "
                           "sleep $((SENTORY_RECORD_ARGS_DELAY_MS / 1000))\n"
                           "printf '%s\\n' \"$#\" \"$1\" \"$2\" "
                           ">> \"$SENTORY_RECORD_ARGS\"\n";
  chmod(script.c_str(), 0755);
  return "record.sh";
}

TempFolder::TempFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "sentory-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(out_path_.c_str());
  unlink(err_path_.c_str());
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env,
                         const std::string& folder) {
  char out_template[] = "/tmp/sentory-out-XXXXXX";
  char err_template[] = "/tmp/sentory-err-XXXXXX";
  int out_fd = mkstemp(out_template);
  int err_fd = mkstemp(err_template);
  out_path_ = out_template;
  err_path_ = err_template;

  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  for (const std::string& added : env) {
    std::string name = added.substr(0, added.find('=') + 1);
    for (auto it = environment.begin(); it != environment.end();) {
      it = it->compare(0, name.size(), name) == 0 ? environment.erase(it)
                                                  : it + 1;
    }
    environment.push_back(added);
  }
  std::vector<char*> env_pointers;
  for (std::string& e : environment) env_pointers.push_back(e.data());
  env_pointers.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> arg_pointers;
  for (std::string& a : args) arg_pointers.push_back(a.data());
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
  std::string previous_folder;
  if (!folder.empty()) {
    previous_folder = std::filesystem::current_path().string();
    std::filesystem::current_path(folder);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    sigaddset(&defaults, signal_number);
  }
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  int result = posix_spawnp(&pid_, arg_pointers[0], &actions, &attributes,
                            arg_pointers.data(), env_pointers.data());
  posix_spawnattr_destroy(&attributes);
  if (!previous_folder.empty()) std::filesystem::current_path(previous_folder);
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  if (result != 0) pid_ = -1;
  return result == 0;
}

int ChildProcess::Wait(double seconds) {
  if (pid_ <= 0) return -1;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return StatusOf(status);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

namespace {

// Polls |source| until it holds |text| |count| times or |seconds| pass.
template <typename Source>
bool WaitForText(Source source, const std::string& text, double seconds,
                 int count) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (CountOf(source(), text) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

int CountOf(const std::string& text, const std::string& piece) {
  int seen = 0;
  for (std::size_t pos = text.find(piece); pos != std::string::npos;
       pos = text.find(piece, pos + 1)) {
    ++seen;
  }
  return seen;
}

bool ChildProcess::WaitForOutput(const std::string& text, double seconds,
                                 int count) {
  return WaitForText([this] { return Output(); }, text, seconds, count);
}

bool WaitForFileText(const std::string& path, const std::string& text,
                     double seconds, int count) {
  return WaitForText([&path] { return ReadFileText(path); }, text, seconds,
                     count);
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) kill(pid_, signal_number);
}

std::string ChildProcess::Output() const { return ReadFileText(out_path_); }
std::string ChildProcess::Errors() const { return ReadFileText(err_path_); }

int RunToEnd(const std::vector<std::string>& argv, std::string* output,
             const std::vector<std::string>& env, const std::string& folder) {
  ChildProcess child;
  if (!child.Start(argv, env, folder)) return -1;
  int status = child.Wait();
  if (output != nullptr) *output = child.Output();
  return status;
}

std::vector<std::string> SentoryCommand(const std::vector<std::string>& words) {
  std::vector<std::string> command;
  const char* exe = std::getenv("SENTORY_EXE");
  if (exe == nullptr || *exe == '\0') {
    command.push_back(std::string(SENTORY_BUILD_DIR) + "/sentory");
  } else {
    const char* runner = std::getenv("SENTORY_RUNNER");
    if (runner != nullptr && *runner != '\0') command.emplace_back(runner);
    command.emplace_back(exe);
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
  const char* exe = std::getenv("SENTORY_EXE");
  return exe != nullptr && std::strstr(exe, ".exe") != nullptr;
}

}  // namespace sentory
