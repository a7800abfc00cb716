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

// Starts real Windows programs: a copy of record_args.exe (built beside
// this test program), which writes the arguments it receives to a file, in
// a temporary folder whose name holds a blank, so the program is quoted in
// the command line.
class ProcessWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string recorder(path, length < MAX_PATH ? length : 0);
    recorder =
        recorder.substr(0, recorder.find_last_of('\\')) + "\\record_args.exe";
    if (GetFileAttributesA(recorder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      GTEST_SKIP() << recorder << " is not built";
    }
    length = GetTempPathA(sizeof(path), path);
    ASSERT_TRUE(length > 0 && length < sizeof(path));
    root_ = std::string(path, length) + "sentory-process-" +
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

  // Runs |program| with |alert_text|: the arguments it recorded.
  std::string Run(const std::string& program, const std::string& alert_text) {
    OutputStream out(console_);
    EXPECT_EQ(0, RunAlertProgram(*launcher_, out, program.c_str(), kTime,
                                 alert_text.c_str()));
    std::stringstream text;
    text << std::ifstream(root_ + "\\args", std::ios::binary).rdbuf();
    return text.str();
  }

  std::string root_, dir_, program_;
  FakeConsole console_;
  std::unique_ptr<ProcessLauncher> launcher_ = MakeSystemProcessLauncher();
};

// Given an alert text with quotes and backslashes, the program should
// receive exactly the event time and the text, with ' for ", and the run
// should return only after the program, which takes a while, has ended.
TEST_F(ProcessWin32Test, ProgramReceivesTwoArguments) {
  SetEnvironmentVariableA("SENTORY_RECORD_ARGS_DELAY_MS", "200");
  EXPECT_EQ(std::string("2\n") + kTime + "\na'b' \\' & | c:\\d\\\n",
            Run(program_, "a\"b\" \\\" & | c:\\d\\"));
}

// Given a program that does not exist, the start should fail with error 2.
TEST_F(ProcessWin32Test, MissingProgramGivesError2) {
  std::string line = "sentory-no-such-program.exe x";
  ProcessLauncher::ProcessInformation started;
  EXPECT_FALSE(launcher_->CreateProcessA(line.data(), &started));
  EXPECT_EQ(2u, launcher_->GetLastError());
}

// Given a command script as the alert program and an alert text written to
// break out of its quotes, the command interpreter should run the script
// and nothing else.
TEST_F(ProcessWin32Test, CommandScriptRunsNothingElse) {
  std::string script = dir_ + "\\alert.cmd";
  std::ofstream(script, std::ios::binary)
      << "@echo off\r\n\"" << program_ << "\" %*\r\n";
  std::string amp = root_ + "\\amp", pipe = root_ + "\\pipe";
  EXPECT_EQ(std::string("2\n") + kTime + "\na' & echo x>" + amp +
                " & 'b' | echo x>" + pipe + " | 'c\n",
            Run(script, "a\" & echo x>" + amp + " & \"b\" | echo x>" + pipe +
                            " | \"c"));
  EXPECT_FALSE(std::filesystem::exists(amp));
  EXPECT_FALSE(std::filesystem::exists(pipe));
}

}  // namespace
}  // namespace sentory
