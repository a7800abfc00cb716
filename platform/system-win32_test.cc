// The Windows backends against the real system: file mappings, processes.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/output_stream.h"
#include "platform/file_mapping.h"
#include "platform/process.h"
#include "runner/alert_program.h"
#include "tests/support/fakes.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// With one file's mapping held open (as another monitor loading its skip
// file holds it), a second file mapped gives its own bytes, shorter or longer.
TEST(FileMappingWin32Test, MappingsOfTwoFilesStayApart) {
  const fs::path dir = fs::temp_directory_path() / "sentory-file-mapping";
  fs::create_directories(dir);
  const std::string held = (dir / "held").string(), path = (dir / "b").string();
  const std::string kLong(20000, 'L');
  for (const auto& [held_bytes, bytes] :
       {std::make_pair(kLong, std::string("17 Tape\r\n")),
        std::make_pair(std::string("1 a"), kLong)}) {
    std::ofstream(held, std::ios::binary) << held_bytes;
    std::ofstream(path, std::ios::binary) << bytes;
    auto holder = MakeSystemFileMapper(), files = MakeSystemFileMapper();
    FileMapper::Handle held_file = holder->OpenFile(held.c_str());
    FileMapper::Handle held_mapping = holder->CreateFileMapping(held_file);
    FileMapper::Handle file = files->OpenFile(path.c_str());
    FileMapper::Handle mapping = files->CreateFileMapping(file);
    std::size_t size = 0;
    const char* view = files->MapViewOfFile(mapping, &size);
    ASSERT_TRUE(held_mapping != nullptr && view != nullptr);
    EXPECT_EQ(std::string(view, size), bytes) << held_bytes.size();
    files->UnmapViewOfFile(view);
    for (auto handle : {mapping, file}) files->CloseHandle(handle);
    for (auto handle : {held_mapping, held_file}) holder->CloseHandle(handle);
  }
  fs::remove_all(dir);
}

// Real programs: a copy of record_args.exe (built beside this test program),
// which writes the arguments it receives to a file, in a folder whose name
// holds a blank, so the program is quoted in the command line.
class ProcessWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string recorder(path, length < MAX_PATH ? length : 0);
    recorder =
        recorder.substr(0, recorder.find_last_of('\\')) + "\\record_args.exe";
    if (GetFileAttributesA(recorder.c_str()) == INVALID_FILE_ATTRIBUTES)
      GTEST_SKIP() << recorder << " is not built";
    root_ = (fs::temp_directory_path() /
             ("sentory-process-" + std::to_string(GetCurrentProcessId())))
                .string();
    dir_ = root_ + "\\with blank";
    program_ = dir_ + "\\record args.exe";
    ASSERT_TRUE(fs::create_directories(dir_));
    ASSERT_NE(0, CopyFileA(recorder.c_str(), program_.c_str(), FALSE));
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS", (root_ + "\\args").c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS", nullptr);
    SetEnvironmentVariableA("SENTORY_RECORD_ARGS_DELAY_MS", nullptr);
    if (!root_.empty()) fs::remove_all(root_);
  }

  // Runs |program| with |alert_text|: the arguments it recorded.
  std::string Run(const std::string& program, const std::string& alert_text) {
    FakeConsole console;
    OutputStream out(console);
    EXPECT_EQ(0, RunAlertProgram(*launcher_, out, program.c_str(), "Mon 03:04",
                                 alert_text.c_str()));
    std::stringstream text;
    text << std::ifstream(root_ + "\\args", std::ios::binary).rdbuf();
    return text.str();
  }

  std::string root_, dir_, program_;
  std::unique_ptr<ProcessLauncher> launcher_ = MakeSystemProcessLauncher();
};

// The program gets exactly the time and the text (' for "), and the run
// returns only once the slow program has ended; one missing gives error 2.
TEST_F(ProcessWin32Test, ProgramReceivesTwoArguments) {
  SetEnvironmentVariableA("SENTORY_RECORD_ARGS_DELAY_MS", "200");
  EXPECT_EQ("2\nMon 03:04\na'b' \\' & | c:\\d\\\n",
            Run(program_, "a\"b\" \\\" & | c:\\d\\"));
  std::string line = "sentory-no-such-program.exe x";
  ProcessLauncher::ProcessInformation started;
  EXPECT_FALSE(launcher_->CreateProcessA(line.data(), &started));
  EXPECT_EQ(2u, launcher_->GetLastError());
}

// A command script run with a text written to break out of its quotes runs
// the script and nothing else.
TEST_F(ProcessWin32Test, CommandScriptRunsNothingElse) {
  std::string script = dir_ + "\\alert.cmd";
  std::ofstream(script, std::ios::binary)
      << "@echo off\r\n\"" << program_ << "\" %*\r\n";
  std::string amp = root_ + "\\amp", pipe = root_ + "\\pipe";
  EXPECT_EQ("2\nMon 03:04\na' & echo x>" + amp + " & 'b' | echo x>" + pipe +
                " | 'c\n",
            Run(script, "a\" & echo x>" + amp + " & \"b\" | echo x>" + pipe +
                            " | \"c"));
  EXPECT_FALSE(fs::exists(amp) || fs::exists(pipe));
}

}  // namespace
}  // namespace sentory
