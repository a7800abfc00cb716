#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/output_stream.h"
#include "platform/process.h"
#include "runner/alert_program.h"
#include "tests/support/fakes.h"

namespace sentory {
namespace {

const char kTime[] = "Mon Dec 07 03:04:40 2026";

// Starts real programs: shell scripts written into a temporary folder whose
// name holds a blank, so the program is quoted in the command line.
class ProcessPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sentory-process-XXXXXX")
            .string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    root_ = pattern;
    dir_ = root_ + "/with blank/";
    for (const char* folder : {"", "a", "b", "c"}) {
      std::filesystem::create_directory(dir_ + folder);
    }
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // Writes an executable script |name| that runs |body| and returns its path.
  std::string Script(const std::string& name, const std::string& body,
                     mode_t mode = 0755) {
    std::ofstream(dir_ + name) << "#!/bin/sh\n" << body << "\n";
    chmod((dir_ + name).c_str(), mode);
    return dir_ + name;
  }
  std::string Read(const std::string& name) {
    std::stringstream text;
    text << std::ifstream(dir_ + name).rdbuf();
    return text.str();
  }
  // Starts |command_line|, waits for the program to end: false, with the
  // error in *error, when it does not start.
  bool Start(std::string command_line, std::uint32_t* error) {
    ProcessLauncher::ProcessInformation started;
    if (!launcher_->CreateProcessA(command_line.data(), &started)) {
      *error = launcher_->GetLastError();
      return false;
    }
    return launcher_->WaitForSingleObject(started.process);
  }

  std::string root_;
  std::string dir_;
  std::unique_ptr<ProcessLauncher> launcher_ = MakeSystemProcessLauncher();
};

// Given an alert text with quotes, backslashes and shell characters, the
// program should receive exactly the event time and the text, with ' for ",
// and the run should return only after the program, which takes a while,
// has ended. (AlertProgramTest checks the line announcing the program.)
TEST_F(ProcessPosixTest, ProgramReceivesTwoArguments) {
  std::string program = Script(
      "record", "sleep 0.2; printf '%s\\n' \"$#\" \"$@\" > \"${0%/*}/args\"");
  FakeConsole console;
  OutputStream out(console);
  EXPECT_EQ(0, RunAlertProgram(*launcher_, out, program.c_str(), kTime,
                               "a\"b\" & | $(touch x) `touch y` c:\\d\\"));
  EXPECT_EQ(
      std::string("2\n") + kTime + "\na'b' & | $(touch x) `touch y` c:\\d\\\n",
      Read("args"));
}

// Given a program that does not exist or may not be executed, the start
// should fail with the error code a Windows user would recognise for the
// missing one. (FaultsTest sees it in the monitor's failure line.)
TEST_F(ProcessPosixTest, FailedStartGivesErrorCode) {
  Script("plain-file", "", 0644);
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"sentory-no-such-program", 2},
      {dir_ + "missing", 2},
      {dir_ + "plain-file", 13},
      {dir_, 13},
  };
  for (const auto& [program, error] : cases) {
    std::uint32_t got = 0;
    EXPECT_FALSE(Start("\"" + program + "\" x", &got)) << program;
    EXPECT_EQ(error, got) << program;
  }
}

// Given a bare program name, the program should be found as the folders
// are at each start, though the same launcher found it before: in the
// current folder first, as Windows takes it, then along PATH as it is now.
TEST_F(ProcessPosixTest, FindsBareNameAsFoldersAreNow) {
  auto probe = [this](const std::string& where, const std::string& tag) {
    Script(where + "sentory-probe", "echo " + tag + " > \"" + dir_ + "ran\"");
  };
  auto remove = [this](const std::string& where) {
    std::filesystem::remove(dir_ + where + "sentory-probe");
  };
  const std::string old_path = std::getenv("PATH");
  const std::string old_folder = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  setenv("PATH", (dir_ + "a:" + dir_ + "b").c_str(), 1);
  probe("a/", "a");
  probe("b/", "b");
  struct Case {
    const char* change;
    std::function<void()> make;
    std::string ran;  // "" when the start fails with 2
  } cases[] = {
      {"as made", [] {}, "a"},
      {"replaced", [&] { probe("a/", "a2"); }, "a2"},
      {"removed", [&] { remove("a/"); }, "b"},
      {"PATH changed",
       [&] {
         probe("c/", "c");
         setenv("PATH", (dir_ + "c:" + dir_ + "b").c_str(), 1);
       },
       "c"},
      {"one in the current folder", [&] { probe("", "here"); }, "here"},
      {"all removed",
       [&] {
         for (const char* where : {"", "b/", "c/"}) remove(where);
       },
       ""},
  };
  for (const Case& c : cases) {
    c.make();
    std::filesystem::remove(dir_ + "ran");
    std::uint32_t error = 0;
    EXPECT_EQ(!c.ran.empty(), Start("sentory-probe x", &error)) << c.change;
    EXPECT_EQ(c.ran.empty() ? "" : c.ran + "\n", Read("ran")) << c.change;
    EXPECT_EQ(c.ran.empty() ? 2u : 0u, error) << c.change;
  }
  std::filesystem::current_path(old_folder);
  setenv("PATH", old_path.c_str(), 1);
}

// Given SIGINT and SIGQUIT blocked and ignored here, as the console handling
// leaves them, the program should start with neither blocked nor ignored.
TEST_F(ProcessPosixTest, ProgramGetsDefaultSignals) {
  sigset_t set, old_set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &set, &old_set));
  struct sigaction ignore = {}, old_action = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGQUIT, &ignore, &old_action));
  // cp reads its own status, so no shell stands between to reset anything.
  std::uint32_t error = 0;
  bool ok = Start("cp /proc/self/status \"" + dir_ + "status\"", &error);
  sigaction(SIGQUIT, &old_action, nullptr);
  pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
  ASSERT_TRUE(ok);
  std::istringstream lines(Read("status"));
  int seen = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) {
      EXPECT_EQ(0u, std::stoull(line.substr(7), nullptr, 16) &
                        ((1ull << (SIGINT - 1)) | (1ull << (SIGQUIT - 1))))
          << line;
      ++seen;
    }
  }
  EXPECT_EQ(2, seen);
}

}  // namespace
}  // namespace sentory
