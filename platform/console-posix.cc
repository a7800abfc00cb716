// The console on POSIX systems. Only POSIX and C++ standard library code may
// live here.
//
// Ctrl-C is SIGINT and Ctrl-Break is SIGQUIT. Both are blocked in every
// thread and taken by a thread of their own with sigwait(), so the handler
// runs on a thread of its own as on Windows. When that thread cannot be
// made, both keep their default action. SIGTERM and SIGHUP keep their
// default action, as closing the console does on Windows.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace sentory {
namespace {

class PosixConsole : public Console {
 public:
  // A log file on a full disk or past the file-size limit, or a closed
  // pipe, makes writes fail as on Windows instead of ending the monitor.
  PosixConsole() {
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
  }

  void Write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }

  void Flush() override { std::fflush(stdout); }

  bool ReopenOutput(const char* path) override {
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::fflush(stdout);
    bool ok = dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
    close(fd);
    return ok;
  }

  void CloseOutput() override { std::fclose(stdout); }

  bool SetControlHandler(ControlHandler handler) override {
    // A program started in the background by a shell inherits SIGINT ignored;
    // an ignored signal is discarded even while blocked, so restore the
    // default action before blocking.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0 ||
        sigaction(SIGQUIT, &action, nullptr) != 0) {
      return false;
    }
    // The thread is made with the signals blocked, so it inherits the mask
    // sigwait() needs; they stay blocked in the calling thread only when the
    // thread exists to take them.
    static ControlThread control;
    control.handler = handler;
    sigemptyset(&control.signals);
    sigaddset(&control.signals, SIGINT);
    sigaddset(&control.signals, SIGQUIT);
    if (pthread_sigmask(SIG_BLOCK, &control.signals, nullptr) != 0) {
      return false;
    }
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunControlThread, &control) != 0) {
      pthread_sigmask(SIG_UNBLOCK, &control.signals, nullptr);
      return false;
    }
    pthread_detach(thread);
    return true;
  }

  [[noreturn]] void ExitProcess(int status) override {
    std::fflush(nullptr);
    std::_Exit(status);
  }

  [[noreturn]] void ExitProcessNow(int status) override { _exit(status); }

 private:
  struct ControlThread {
    sigset_t signals;
    ControlHandler handler = nullptr;
  };

  static void* RunControlThread(void* argument) {
    const ControlThread& control = *static_cast<ControlThread*>(argument);
    for (;;) {
      int signal_number = 0;
      if (sigwait(&control.signals, &signal_number) != 0) continue;
      control.handler(signal_number == SIGINT ? Control::kCtrlC
                                              : Control::kCtrlBreak);
    }
  }
};

}  // namespace

std::unique_ptr<Console> MakeSystemConsole() {
  return std::make_unique<PosixConsole>();
}

}  // namespace sentory
