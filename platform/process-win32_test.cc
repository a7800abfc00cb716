#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/output_stream.h"
#include "platform/process.h"
#include "runner/alert_program.h"
#include "tests/support/fakes.h"

namespace sentory {
namespace {

const char kTime[] = "Mon Dec 07 03:04:40 2026";

// The folder of this test program, where the build puts record_args.exe.
std::string ModuleFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  return folder.substr(0, folder.find_last_of('\\'));
}

// Starts real Windows programs: a copy of record_args.exe, which writes the
// arguments it receives to a file, in a temporary folder whose name holds a
// blank, so the program is quoted in the command line.
class ProcessWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    std::string recorder = ModuleFolder() + "\\record_args.exe";
    if (GetFileAttributesA(recorder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << recorder << " is not built";
    }
    char temp[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof(temp), temp);
    ASSERT_TRUE(length > 0 && length < sizeof(temp));
    root_ = std::string(temp, length) + "sentory-process-" +
            std::to_string(GetCurrentProcessId());
    dir_ = root_ + "\\with blank";
    program_ = dir_ + "\\record args.exe";
    ASSERT_TRUE(std::filesystem::create_directories(dir_));
    ASSERT_NE(0, CopyFileA(recorder.c_str(), program_.c_str(), FALSE));
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS", (root_ + "\\args").c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS", nullptr);
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS_DELAY_MS", nullptr);
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }

  std::string Read(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  }

  int Run(const std::string& program, const char* alert_text) {
    OutputStream out(console_);
    return RunAlertProgram(*launcher_, out, program.c_str(), kTime, alert_text);
  }

  std::string root_;
  std::string dir_;
  std::string program_;
  FakeConsole console_;
  std::unique_ptr<ProcessLauncher> launcher_ = MakeSystemProcessLauncher();
};

// Given an alert text with quotes and backslashes, the program should
// receive exactly the event time and the text, with ' for ", and the run
// should return only after the program, which takes a while, has ended.
TEST_F(ProcessWin32Test, ProgramReceivesTwoArguments) {
  SetEnvironmentVariableA("SENTORY_RECORD_ARGS_DELAY_MS", "200");
  EXPECT_EQ(0, Run(program_, "a\"b\" \\\" & | c:\\d\\"));
  EXPECT_EQ(std::string("2\n") + kTime + "\na'b' \\' & | c:\\d\\\n",
            Read(root_ + "\\args"));
}

// Given a program that does not exist, the start should fail with error 2
// and the failure line should carry it.
TEST_F(ProcessWin32Test, MissingProgramGivesError2) {
  std::string line = "sentory-no-such-program.exe x";
  ProcessLauncher::ProcessInformation started;
  EXPECT_FALSE(launcher_->CreateProcessA(line.data(), &started));
  EXPECT_EQ(2u, launcher_->GetLastError());
  EXPECT_EQ(1, Run("sentory-no-such-program.exe", "text"));
  EXPECT_NE(std::string::npos,
            console_.console.find("sentory-no-such-program.exe - "
                                  "CreateProcess failed. system error 2\n"));
}

// Given a command script as the alert program and an alert text written to
// break out of its quotes, the command interpreter should run the script
// and nothing else.
TEST_F(ProcessWin32Test, CommandScriptRunsNothingElse) {
  std::string script = dir_ + "\\alert.cmd";
  std::ofstream(script, std::ios::binary)
      << "@echo off\r\n\"" << program_ << "\" %*\r\n";
  std::string amp = root_ + "\\amp";
  std::string pipe = root_ + "\\pipe";
  std::string text =
      "a\" & echo x>" + amp + " & \"b\" | echo x>" + pipe + " | \"c";
  EXPECT_EQ(0, Run(script, text.c_str()));
  EXPECT_EQ(std::string("2\n") + kTime + "\na' & echo x>" + amp +
                " & 'b' | echo x>" + pipe + " | 'c\n",
            Read(root_ + "\\args"));
  EXPECT_FALSE(std::filesystem::exists(amp));
  EXPECT_FALSE(std::filesystem::exists(pipe));
}

}  // namespace
}  // namespace sentory
