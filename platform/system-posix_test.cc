// The POSIX backends against the real system and a site on disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "app/output_stream.h"
#include "platform/console.h"
#include "platform/drive_path.h"
#include "platform/file_mapping.h"
#include "platform/locked_file.h"
#include "platform/message_module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/serial_line-posix.h"
#include "platform/serial_port.h"
#include "runner/alert_program.h"
#include "tests/support/fakes.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

// A site (SENTORY_ROOT) in a fresh temporary folder, removed afterwards.
class TempSite : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/sentory-site-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    setenv("SENTORY_ROOT", (root_ = folder).c_str(), 1);
  }
  void TearDown() override {
    unsetenv("SENTORY_ROOT");
    if (!root_.empty()) fs::remove_all(root_);
  }
  std::string Write(const std::string& file, const std::string& bytes) {
    const std::string path = root_ + "/" + file;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string Read(const std::string& file) {
    std::stringstream text;
    text << std::ifstream(root_ + "/" + file).rdbuf();
    return text.str();
  }

  std::string root_;
};

// Output still buffered (no line end) when the process ends is written.
TEST(ConsolePosixDeathTest, ExitProcessKeepsWhatWasWritten) {
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::unique_ptr<Console> console = MakeSystemConsole();
        console->Write("written before the end");
        console->ExitProcess(3);
      },
      testing::ExitedWithCode(3), "written before the end");
}

using FilesPosixTest = TempSite;

// A stamp names the file by device, inode, size and time; a mapping gives
// its bytes whole and, closed, leaves no descriptor open.
TEST_F(FilesPosixTest, RealFileStampAndMapping) {
  const std::string path = Write("log", "17 Tape\r\n");
  struct stat info = {};
  ASSERT_EQ(0, stat(path.c_str(), &info));
  FileStamp stamp;
  ASSERT_TRUE(MakeSystemFileAccess()
                  ->Open(path.c_str(), FileAccess::Mode::kRead)
                  ->Stamp(&stamp));
  EXPECT_EQ(stamp, (FileStamp{info.st_dev, info.st_ino, 9,
                              std::int64_t{info.st_mtim.tv_sec} * 1000000000 +
                                  info.st_mtim.tv_nsec}));
  auto open_files = [] {
    auto folder = fs::directory_iterator("/proc/self/fd");
    return std::distance(begin(folder), end(folder));
  };
  const auto before = open_files();
  auto files = MakeSystemFileMapper();
  FileMapper::Handle file = files->OpenFile(path.c_str());
  FileMapper::Handle mapping = files->CreateFileMapping(file);
  std::size_t size = 0;
  const char* view = files->MapViewOfFile(mapping, &size);
  ASSERT_TRUE(file != nullptr && mapping != nullptr && view != nullptr);
  EXPECT_EQ("17 Tape\r\n", std::string(view, size));
  files->UnmapViewOfFile(view);
  files->CloseHandle(mapping);
  files->CloseHandle(file);
  EXPECT_EQ(before, open_files());
}

// Shell scripts in a folder whose name holds a blank (the name is quoted).
class ProcessPosixTest : public TempSite {
 protected:
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path =
        Write("with blank/" + name, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
  }
  // Runs |command_line| to its end: 0, or the error of a failed start.
  std::uint32_t Start(std::string command_line) {
    ProcessLauncher::ProcessInformation started;
    if (!launcher_->CreateProcessA(command_line.data(), &started))
      return launcher_->GetLastError();
    EXPECT_TRUE(launcher_->WaitForSingleObject(started.process));
    return 0;
  }

  std::unique_ptr<ProcessLauncher> launcher_ = MakeSystemProcessLauncher();
};

// The program gets exactly the time and the text (' for "), nothing a shell
// would make of it, and the run returns only once the slow program has ended.
TEST_F(ProcessPosixTest, ProgramReceivesTwoArguments) {
  std::string program = Script(
      "record", "sleep 0.2; printf '%s\\n' \"$#\" \"$@\" > \"${0%/*}/args\"");
  FakeConsole console;
  OutputStream out(console);
  EXPECT_EQ(0, RunAlertProgram(*launcher_, out, program.c_str(), "Mon 03:04",
                               "a\"b\" & | $(touch x) `touch y` c:\\d\\"));
  EXPECT_EQ("2\nMon 03:04\na'b' & | $(touch x) `touch y` c:\\d\\\n",
            Read("with blank/args"));
}

// A program is found as the folders are at each start, though found before:
// a bare name in the current folder first, then along PATH as it is now. One
// missing or not executable fails with the Windows code.
TEST_F(ProcessPosixTest, StartsWhatIsThereNow) {
  const std::string dir = root_ + "/with blank/";
  auto probe = [&](const std::string& where, const std::string& tag) {
    return Script(where + "probe", "echo " + tag + " > \"" + root_ + "/ran\"");
  };
  auto path = [&](const char* first) {
    setenv("PATH", (dir + first + ":" + dir + "b").c_str(), 1);
  };
  const std::string old_path = std::getenv("PATH");
  const fs::path old_folder = fs::current_path();
  probe("b/", "b");
  fs::current_path(dir);
  path("a");
  const struct {
    std::function<void()> change;
    std::string program, ran;
    std::uint32_t error;
  } cases[] = {
      {[&] { probe("a/", "a"); }, "probe", "a", 0},
      {[&] { probe("a/", "a2"); }, "probe", "a2", 0},
      {[] { fs::remove("a/probe"); }, "probe", "b", 0},
      {[&] { probe("c/", "c"), path("c"); }, "probe", "c", 0},
      {[&] { probe("", "here"); }, "probe", "here", 0},
      {[] {
         for (auto file : {"probe", "b/probe", "c/probe"}) fs::remove(file);
       },
       "probe", "", 2},
      {[] {}, "sentory-no-such-program", "", 2},
      {[] {}, dir + "missing", "", 2},
      {[&] { chmod(probe("", "x").c_str(), 0644); }, dir + "probe", "", 13},
      {[] {}, dir, "", 13}};
  for (const auto& c : cases) {
    c.change();
    fs::remove(root_ + "/ran");
    EXPECT_EQ(c.error, Start("\"" + c.program + "\" x")) << c.program << c.ran;
    EXPECT_EQ(c.ran.empty() ? "" : c.ran + "\n", Read("ran")) << c.ran;
  }
  fs::current_path(old_folder);
  setenv("PATH", old_path.c_str(), 1);
}

// SIGINT and SIGQUIT blocked and ignored here are neither for the program.
TEST_F(ProcessPosixTest, ProgramGetsDefaultSignals) {
  sigset_t set, old_set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &set, &old_set));
  auto old_action = signal(SIGQUIT, SIG_IGN);
  // cp reads its own status: no shell stands between to reset anything.
  EXPECT_EQ(0u, Start("cp /proc/self/status \"" + root_ + "/status\""));
  signal(SIGQUIT, old_action);
  pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
  const std::string status = Read("status");
  for (const char* field : {"SigBlk:", "SigIgn:"}) {
    EXPECT_EQ(0u,
              std::stoull(status.substr(status.find(field) + 7), nullptr, 16) &
                  ((1ull << (SIGINT - 1)) | (1ull << (SIGQUIT - 1))))
        << field;
  }
}

// Machines Server1 (an export), EMPTY (none), BROKEN (a damaged one) and the
// local one; Value() reads their key and value, named in other cases.
class RegistryPosixTest : public TempSite {
 protected:
  void SetUp() override {
    TempSite::SetUp();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    Export("Server1/Registry.REG", "a.dll");
    Export(std::string(host) + "/registry.reg", "local.dll");
    Write("BROKEN/registry.reg", "not an export\r\n");
    fs::create_directory(root_ + "/EMPTY");
  }
  void Export(const std::string& file, const std::string& value) {
    Write(file,
          "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Src]\r\n"
          "\"File\"=\"" +
              value + "\"\r\n");
  }
  std::string Value(RegistryService::Key root) {
    RegistryService::Key key = nullptr;
    char data[64] = {};
    std::uint32_t type = 0, size = sizeof data;
    if (registry_->OpenKey(root, "SOFTWARE\\src", &key) != kErrorSuccess ||
        registry_->QueryValueEx(key, "FILE", &type,
                                reinterpret_cast<unsigned char*>(data),
                                &size) != kErrorSuccess)
      return "";
    EXPECT_EQ(kErrorSuccess, registry_->CloseKey(key));
    return type == kRegSz ? data : "?";
  }

  std::unique_ptr<RegistryService> registry_ = MakeSystemRegistry();
};

// A machine named in any case, with or without backslashes, is its export as
// it is at each connection, though found and read before, even one rewritten
// to the same size and time; a key keeps the export it came from. A machine
// missing, without an export or with a damaged one cannot be connected to.
TEST_F(RegistryPosixTest, ConnectsToTheExportAsItIsNow) {
  const auto machine = RegistryService::Root::kLocalMachine;
  RegistryService::Key first = nullptr, key = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry("\\\\server1", machine, &first));
  EXPECT_EQ(kErrorFileNotFound,
            registry_->OpenKey(first, "Software\\No", &key));
  const std::string file = root_ + "/Server1/Registry.REG";
  auto move = [&](const char* from, const char* to) {
    fs::rename(root_ + from, root_ + to);
  };
  const struct {
    std::function<void()> change;
    const char* machine;
    long error;
    const char* value;
  } cases[] = {
      {[] {}, "NOPE", kErrorBadNetpath, ""},
      {[] {}, "empty", kErrorBadNetpath, ""},
      {[] {}, "Broken", kErrorBadDb, ""},
      {[&] { Export("Server1/Registry.REG", "b.dll"); }, "SERVER1", 0, "b.dll"},
      {[&] {
         const fs::file_time_type written = fs::last_write_time(file);
         Export("Server1/Registry.REG", "B.dll");
         fs::last_write_time(file, written);
       },
       "SERVER1", 0, "B.dll"},
      {[&] { move("/Server1", "/away"); }, "server1", kErrorBadNetpath, ""},
      {[&] { move("/away", "/SERVER1"); }, "server1", 0, "B.dll"},
      {[&] { fs::remove(root_ + "/SERVER1/Registry.REG"); }, "server1",
       kErrorBadNetpath, ""},
      {[&] { Export("SERVER1/REGISTRY.REG", "c.dll"); }, "server1", 0,
       "c.dll"}};
  for (const auto& c : cases) {
    c.change();
    EXPECT_EQ(c.error, registry_->ConnectRegistry(c.machine, machine, &key))
        << c.machine << c.value;
    EXPECT_EQ(c.value, c.error == 0 ? Value(key) : "") << c.value;
  }
  EXPECT_EQ("a.dll", Value(first));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(first));
  EXPECT_EQ(kErrorInvalidHandle, registry_->CloseKey(first));
  EXPECT_EQ("local.dll", Value(registry_->LocalRoot(machine)));
  EXPECT_EQ("", Value(registry_->LocalRoot(RegistryService::Root::kUsers)));
}

// Windows variables unset expand, in any case, as on a standard installation.
TEST_F(RegistryPosixTest, StandardWindowsVariables) {
  for (const char* name : {"SystemRoot", "windir", "SystemDrive",
                           "ProgramFiles", "CommonProgramFiles"})
    unsetenv(name);
  char out[200] = {};
  registry_->ExpandEnvironmentStrings(
      "%SystemRoot%|%systemroot%|%windir%|%SystemDrive%|%ProgramFiles%|"
      "%CommonProgramFiles%",
      out, sizeof out);
  EXPECT_STREQ(
      "C:\\Windows|C:\\Windows|C:\\Windows|C:|C:\\Program Files|"
      "C:\\Program Files\\Common Files",
      out);
  setenv("WINDIR", "D:\\Windows", 1);
  registry_->ExpandEnvironmentStrings("%windir%", out, sizeof out);
  unsetenv("WINDIR");
  EXPECT_STREQ("D:\\Windows", out);
}

const char* const kArguments[] = {"a", "b", "c"};
const std::string kRulesText = "Inserts a, b and c. ";  // line end: a blank

class MessageModulesPosixTest : public TempSite {
 protected:
  void SetUp() override {
    TempSite::SetUp();
    if (rules_.empty()) GTEST_SKIP() << "the test message files were not built";
    file_ = Write("Drives/c/Windows/System32/Rules.DLL", rules_);
  }
  std::string Format(MessageModules::Module module,
                     std::uint32_t flags = kFormatMessageFlags) {
    char* buffer = nullptr;
    if (modules_->FormatMessage(flags, module, 1, 0, &buffer, kArguments, 3) ==
        0)
      return "(none)";
    std::string text = buffer;
    modules_->LocalFree(buffer);
    return text;
  }

  const std::string rules_ = ReadMessageFile("rules64");
  std::string file_;
  std::unique_ptr<MessageModules> modules_ = MakeSystemMessageModules();
};

// Windows names are found in any case under the site's drives, ".." on one.
TEST_F(MessageModulesPosixTest, DrivePaths) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\WINDOWS\\system32\\rules.dll", file_},
      {"c:/windows//System32/./RULES.dll", file_},
      {"C:\\..\\..\\Windows\\System32\\Rules.dll", file_},
      {"D:\\Windows\\System32\\Rules.dll", ""},
      {"Windows\\System32\\Rules.dll", ""},
      {"\\\\server\\share\\Rules.dll", ""},
      {file_, file_}};
  for (const auto& [name, path] : cases)
    EXPECT_EQ(path, DrivePath(name.c_str()));
}

// A message file that changes, vanishes and returns is seen as it is at each
// load, though read before; a module loaded keeps its text and unloads once;
// flags other than the program's, a message the file lacks and a module
// unloaded give none.
TEST_F(MessageModulesPosixTest, SeesTheFileAsItIsNow) {
  const std::string system32 = "Drives/c/Windows/System32/";
  const std::string neutral = ReadMessageFile("neutral_first64");
  ASSERT_FALSE(neutral.empty());
  MessageModules::Module first =
      modules_->LoadLibraryEx("c:\\windows\\SYSTEM32\\rules.dll");
  ASSERT_NE(nullptr, first);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] {}, kRulesText},
      {[&] { Write(system32 + "Rules.DLL", neutral); }, "Text in Neutral "},
      {[&] { fs::remove(file_); }, "(none)"},
      {[&] { Write(system32 + "RULES.dll", rules_); }, kRulesText},
      {[&] { Write(system32 + "RULES.dll", "MZ but no program"); }, "(none)"},
      {[&] { fs::rename(root_ + "/Drives", root_ + "/gone"); }, "(none)"},
      {[&] {
         fs::rename(root_ + "/gone", root_ + "/drives");
         Write("drives/c/Windows/System32/RULES.dll", rules_);
       },
       kRulesText}};
  for (const auto& [change, text] : cases) {
    change();
    MessageModules::Module module =
        modules_->LoadLibraryEx("C:\\Windows\\System32\\Rules.dll");
    EXPECT_EQ(text, module == nullptr ? "(none)" : Format(module));
    modules_->FreeLibrary(module);
  }
  EXPECT_EQ(kRulesText, Format(first));
  EXPECT_EQ("(none)", Format(first, kFormatMessageFlags & ~0x2000u));
  char* none = nullptr;
  EXPECT_EQ(0u, modules_->FormatMessage(kFormatMessageFlags, first, 99, 0,
                                        &none, kArguments, 3));
  EXPECT_EQ(nullptr, none);
  EXPECT_TRUE(modules_->FreeLibrary(first));
  EXPECT_FALSE(modules_->FreeLibrary(first));
  EXPECT_EQ("(none)", Format(first));
}

// Size, parity and stop bits replace the line's own and keep its other
// flags; settings the line cannot carry leave it unchanged.
TEST(LineFromDcbTest, SetsSizeParityAndStopBits) {
  const tcflag_t kRefused = ~tcflag_t{0}, kKept = CLOCAL | CREAD | HUPCL;
  const std::pair<Dcb, tcflag_t> cases[] = {
      {{19200, 5, 0, 0}, CS5},
      {{19200, 6, 0, 2}, CS6 | CSTOPB},
      {{19200, 7, 2, 0}, CS7 | PARENB},
      {{19200, 8, 1, 2}, CS8 | PARENB | PARODD | CSTOPB},
#ifdef CMSPAR
      {{19200, 8, 3, 0}, CS8 | PARENB | PARODD | CMSPAR},
      {{19200, 8, 4, 0}, CS8 | PARENB | CMSPAR},
#endif
      {{14400, 8, 0, 0}, kRefused},
      {{19200, 4, 0, 0}, kRefused},
      {{19200, 8, 5, 0}, kRefused},
      {{19200, 8, 0, 1}, kRefused}};
  tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB | kKept;
#ifdef CMSPAR
  mask |= CMSPAR;
#endif
  auto fields = [](const Dcb& d) {
    return std::make_tuple(d.BaudRate, d.ByteSize, d.Parity, d.StopBits);
  };
  int row = 0;
  for (const auto& [dcb, flags] : cases) {
    SCOPED_TRACE(++row);
    const bool ok = flags != kRefused;
    struct termios line = {};
    line.c_cflag = CS7 | PARENB | kKept;
    ASSERT_EQ(cfsetspeed(&line, B9600), 0);
    EXPECT_EQ(LineFromDcb(dcb, &line), ok);
    EXPECT_EQ(line.c_cflag & mask, (ok ? flags : CS7 | PARENB) | kKept);
    EXPECT_EQ(cfgetospeed(&line), ok ? B19200 : B9600);
    Dcb back;
    DcbFromLine(line, &back);
    EXPECT_TRUE(!ok || fields(back) == fields(dcb));
  }
}

// A pseudo-terminal as the site's dev/com7, opened; the test is the modem.
class SerialPortPosixTest : public TempSite {
 protected:
  void SetUp() override {
    TempSite::SetUp();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master_ >= 0 && grantpt(master_) == 0 &&
                unlockpt(master_) == 0);
    ASSERT_TRUE(fs::create_directory(root_ + "/dev"));
    fs::create_symlink(ptsname(master_), root_ + "/dev/com7");
    EXPECT_EQ(ports_->CreateFileA("NOSUCHPORT"), kInvalidSerialHandle);
    ASSERT_NE(port_ = ports_->CreateFileA("cOm7"), kInvalidSerialHandle);
  }
  void TearDown() override {
    EXPECT_TRUE(port_ == kInvalidSerialHandle || ports_->CloseHandle(port_));
    if (master_ >= 0) close(master_);
    TempSite::TearDown();
  }

  std::string Read(std::uint32_t size, CommTimeouts timeouts, bool ok = true) {
    EXPECT_TRUE(ports_->SetCommTimeouts(port_, timeouts));
    char buffer[64] = {};
    std::uint32_t count = 0;
    alarm(10);  // a read that never ends fails the run
    EXPECT_EQ(ok, ports_->ReadFile(port_, buffer, size, &count));
    alarm(0);
    return std::string(buffer, count);
  }
  void MasterWrites(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  std::unique_ptr<SerialPorts> ports_ = MakeSystemSerialPorts();
  SerialHandle port_ = kInvalidSerialHandle;
};

// A port open (by a name in any case) opens nowhere else until closed, once.
TEST_F(SerialPortPosixTest, OpensWithoutRegardToCaseAndExclusively) {
  std::unique_ptr<SerialPorts> other = MakeSystemSerialPorts();
  EXPECT_EQ(other->CreateFileA("COM7"), kInvalidSerialHandle);
  EXPECT_TRUE(ports_->CloseHandle(port_));
  EXPECT_FALSE(ports_->CloseHandle(port_));
  port_ = kInvalidSerialHandle;
  SerialHandle port = other->CreateFileA("COM7");
  ASSERT_NE(port, kInvalidSerialHandle);
  EXPECT_TRUE(other->CloseHandle(port));
}

// Settings read back as set; bytes pass unchanged both ways, not echoed.
TEST_F(SerialPortPosixTest, RawLineKeepsItsSettings) {
  Dcb dcb, back;
  dcb.BaudRate = 19200;
  dcb.StopBits = 2;
  ASSERT_TRUE(ports_->SetCommState(port_, dcb));
  ASSERT_TRUE(ports_->GetCommState(port_, &back));
  EXPECT_EQ(std::make_tuple(back.BaudRate, back.StopBits),
            std::make_tuple(19200u, std::uint8_t{2}));
  dcb.StopBits = 1;
  EXPECT_FALSE(ports_->SetCommState(port_, dcb));
  MasterWrites("\r\n\x1b");
  EXPECT_EQ(Read(3, {}), "\r\n\x1b");
  struct pollfd echo = {master_, POLLIN, 0};
  EXPECT_EQ(poll(&echo, 1, 0), 0);
  std::uint32_t written = 0;
  ASSERT_TRUE(ports_->WriteFile(port_, "at\n", 3, &written));
  EXPECT_EQ(written, 3u);
  char got[8] = {};
  EXPECT_EQ(read(master_, got, sizeof(got)), 3);
  EXPECT_STREQ(got, "at\n");
}

// Reads end as their time-outs say; the line gone is a device error.
TEST_F(SerialPortPosixTest, ReadsReturnAsTheTimeOutsSay) {
  const struct {
    const char *now, *later;
    std::uint32_t size;
    CommTimeouts timeouts;
    const char* read;
  } cases[] = {
      {"", "", 10, {0, 1, 20}, ""},         // the total passes, nothing came
      {"HELLO", "", 3, {0, 1, 20}, "HEL"},  // the rest stays for the next
      {"", "", 10, {0, 1, 20}, "LO"},
      {"AB", "", 10, {30}, "AB"},                 // the interval ends it
      {"", "", 10, {0xFFFFFFFF}, ""},             // MAXDWORD alone: at once
      {"A", "BCDEFGH", 8, {0, 150}, "ABCDEFGH"},  // the total grows with 8
  };
  for (const auto& c : cases) {
    MasterWrites(c.now);
    std::thread late([&] {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(*c.later ? 400 : 0));
      MasterWrites(c.later);
    });
    EXPECT_EQ(Read(c.size, c.timeouts), c.read) << c.now;
    late.join();
  }
  close(master_);
  master_ = -1;
  EXPECT_EQ(Read(4, {0, 1, 20}, false), "");
}

}  // namespace
}  // namespace sentory
