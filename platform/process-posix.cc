// Starting programs on POSIX systems. Only POSIX and C++ standard library
// code may live here.
//
// The command line is split into arguments by the Windows rules, the program
// is looked up as Windows looks it up (a bare name in the current folder
// first, then along PATH) and started with posix_spawnp in this process's
// environment, current folder and standard streams. Error codes are errno
// values; a program that is not found gives ENOENT, 2, as on Windows.

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "winformat/command_line.h"
#include "platform/process.h"

extern char** environ;

namespace sentory {
namespace {

// Returns 0 when |path| is a file this process may execute, else the errno
// value execve would give for it.
int CheckExecutable(const std::string& path) {
  struct stat info = {};
  if (stat(path.c_str(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EACCES;
  if (access(path.c_str(), X_OK) != 0) return errno;
  return 0;
}

// Finds the file the program name |name| stands for: a name with a folder
// in it as it stands, a bare name in the current folder, then in each folder
// of PATH (an empty entry is the current folder). Returns 0 with |path| set,
// or the errno value of the failure: ENOENT when the name is found nowhere,
// the first other failure (EACCES for a file that may not be executed) when
// it is found only in a form that cannot be started.
int ResolveProgram(const std::string& name, std::string* path) {
  if (name.empty()) return ENOENT;
  if (name.find('/') != std::string::npos) {
    int error = CheckExecutable(name);
    if (error == 0) *path = name;
    return error;
  }
  std::string search = ".:";
  const char* env_path = std::getenv("PATH");
  if (env_path != nullptr) {
    search += env_path;
  } else {
    search += "/bin:/usr/bin";
  }
  int first_error = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = search.find(':', start);
    std::string folder = search.substr(start, end - start);
    std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    int error = CheckExecutable(candidate);
    if (error == 0) {
      *path = candidate;
      return 0;
    }
    if (error != ENOENT && error != ENOTDIR && first_error == 0) {
      first_error = error;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return first_error != 0 ? first_error : ENOENT;
}

// Starts |path| with |args|, the child's signal mask empty and every signal
// at its default action: this process blocks SIGINT and SIGQUIT in all its
// threads to take them on a thread of its own, and a started program must
// not inherit that. Returns 0 with |pid| set, or the error code.
int Spawn(const std::string& path, const std::vector<std::string>& args,
          pid_t* pid) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  int error = posix_spawnattr_init(&attributes);
  if (error != 0) return error;
  sigset_t empty;
  sigset_t all;
  sigemptyset(&empty);
  sigfillset(&all);
  error = posix_spawnattr_setsigmask(&attributes, &empty);
  if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &all);
  if (error == 0) {
    error = posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  if (error == 0) {
    error = posix_spawnp(pid, path.c_str(), nullptr, &attributes, argv.data(),
                         environ);
  }
  posix_spawnattr_destroy(&attributes);
  return error;
}

// Remembers where the last program name was found, so that an alert does not
// search PATH again for the same program: the remembered file is started
// directly, and the search runs again when PATH has changed, when a file of
// that name has appeared in the current folder (which comes first), or when
// the remembered file no longer starts. A file replaced at the same path is
// what the next start runs.
class PosixProcessLauncher : public ProcessLauncher {
 public:
  bool CreateProcessA(char* command_line,
                      ProcessInformation* started) override {
    std::vector<std::string> args = SplitCommandLine(command_line);
    if (args.empty()) return Fail(ENOENT);
    pid_t pid = 0;
    if (!Remembered(args[0]) || Spawn(found_path_, args, &pid) != 0) {
      found_name_.clear();
      std::string path;
      int error = ResolveProgram(args[0], &path);
      if (error == 0) error = Spawn(path, args, &pid);
      if (error != 0) return Fail(error);
      Remember(args[0], path);
    }
    // The first thread of a process has the process's own id.
    started->process = pid;
    started->thread = pid;
    return true;
  }

  bool WaitForSingleObject(Handle process) override {
    int status = 0;
    for (;;) {
      pid_t result = waitpid(static_cast<pid_t>(process), &status, 0);
      if (result == static_cast<pid_t>(process)) return true;
      if (result < 0 && errno != EINTR) return Fail(errno);
    }
  }

  std::uint32_t GetLastError() override { return last_error_; }

  // The process is reaped by the wait; a handle holds nothing to release.
  bool CloseHandle(Handle handle) override {
    return handle > 0 ? true : Fail(EBADF);
  }

 private:
  bool Fail(int error) {
    last_error_ = static_cast<std::uint32_t>(error);
    return false;
  }

  // PATH as the search takes it; unset is not the same as empty.
  static std::string SearchPath() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? std::string("=") + path : "";
  }

  // Whether |name| is the name last found, with PATH as it was then and, for
  // a bare name found along PATH, still no file of that name in the current
  // folder.
  bool Remembered(const std::string& name) const {
    if (found_name_.empty() || name != found_name_ ||
        SearchPath() != found_search_) {
      return false;
    }
    struct stat info;
    return !bare_along_path_ || stat(name.c_str(), &info) != 0;
  }

  void Remember(const std::string& name, const std::string& path) {
    found_name_ = name;
    found_path_ = path;
    found_search_ = SearchPath();
    bare_along_path_ =
        name.find('/') == std::string::npos && path != "./" + name;
  }

  std::uint32_t last_error_ = 0;
  std::string found_name_;  // empty when nothing is remembered
  std::string found_path_;
  std::string found_search_;
  bool bare_along_path_ = false;
};

}  // namespace

std::unique_ptr<ProcessLauncher> MakeSystemProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

}  // namespace sentory
