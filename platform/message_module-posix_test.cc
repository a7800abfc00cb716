#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "eventlog/alert_text.h"
#include "platform/drive_path.h"
#include "platform/message_module.h"
#include "platform/registry.h"
#include "tests/support/fake_services.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

// A site whose drive C holds Windows/System32/Rules.DLL, a test message
// file.
class PosixMessageModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string rules = ReadMessageFile("rules64");
    if (rules.empty()) {
      GTEST_SKIP() << "the test message files were not built";
    }
    char folder[] = "/tmp/sentory-modules-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    std::string system32 = root_ + "/Drives/c/Windows/System32";
    std::filesystem::create_directories(system32);
    std::ofstream(system32 + "/Rules.DLL", std::ios::binary) << rules;
  }

  void TearDown() override {
    if (!root_.empty()) std::filesystem::remove_all(root_);
    unsetenv("SENTORY_ROOT");
  }

  std::string root_;
  std::unique_ptr<MessageModules> modules_ = MakeSystemMessageModules();
};

// Given Windows file names, each part is found without regard to case
// under the site's drives; ".." stays on the drive.
TEST_F(PosixMessageModulesTest, DrivePaths) {
  std::string file = root_ + "/Drives/c/Windows/System32/Rules.DLL";
  struct Case {
    std::string name;
    std::string path;
  } cases[] = {
      {"C:\\WINDOWS\\system32\\rules.dll", file},
      {"c:/windows//System32/./RULES.dll", file},
      {"C:\\..\\..\\Windows\\System32\\Rules.dll", file},
      {"D:\\Windows\\System32\\Rules.dll", ""},
      {"Windows\\System32\\Rules.dll", ""},
      {"\\\\server\\share\\Rules.dll", ""},
      {file, file},
  };
  for (const Case& c : cases) EXPECT_EQ(c.path, DrivePath(c.name.c_str()));
}

// Given a message file named as Windows names it, it loads and unloads
// once; flags other than the program's, and a module already unloaded, give
// no message. (SeesTheSiteAsItIsNow loads a missing file and one that is
// not a program.)
TEST_F(PosixMessageModulesTest, LoadsAndUnloads) {
  MessageModules::Module module =
      modules_->LoadLibraryEx("C:\\windows\\SYSTEM32\\rules.dll");
  ASSERT_NE(nullptr, module);
  char* text = nullptr;
  EXPECT_EQ(0u, modules_->FormatMessage(0x29FF & ~0x2000u, module, 1, 0, &text,
                                        nullptr, 0));
  EXPECT_TRUE(modules_->FreeLibrary(module));
  EXPECT_FALSE(modules_->FreeLibrary(module));
  EXPECT_EQ(0u, modules_->FormatMessage(kFormatMessageFlags, module, 1, 0,
                                        &text, nullptr, 0));
}

// Given message files, machine folders and registry exports that change,
// vanish and return between loads, each load and connection sees the site
// as it is then, though the same service has found and read them before; a
// module loaded before its file changed keeps its text.
TEST_F(PosixMessageModulesTest, SeesTheSiteAsItIsNow) {
  // The line break that ends a message's text is a blank.
  const std::string kRulesText = "Inserts a, b and c. ";
  const std::string system32 = root_ + "/Drives/c/Windows/System32/";
  const std::string rules = ReadMessageFile("rules64");
  const std::string neutral = ReadMessageFile("neutral_first64");
  ASSERT_FALSE(neutral.empty());
  std::filesystem::create_directory(root_ + "/Server");
  const std::string registry_text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Src]\r\n\"V\"=\"1\"\r\n";
  auto write = [](const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  };
  auto move = [this](const char* from, const char* to) {
    std::rename((root_ + from).c_str(), (root_ + to).c_str());
  };
  write(root_ + "/Server/registry.reg", registry_text);
  auto registry = MakeSystemRegistry();
  const char* const kArguments[] = {"a", "b", "c"};
  auto text = [&]() -> std::string {
    MessageModules::Module module =
        modules_->LoadLibraryEx("C:\\Windows\\System32\\Rules.dll");
    if (module == nullptr) return "(none)";
    char* buffer = nullptr;
    std::string result = "(no message)";
    if (modules_->FormatMessage(kFormatMessageFlags, module, 1, 0, &buffer,
                                kArguments, 3) != 0) {
      result = buffer;
      modules_->LocalFree(buffer);
    }
    modules_->FreeLibrary(module);
    return result;
  };
  auto connects = [&]() {
    RegistryService::Key key = nullptr;
    if (registry->ConnectRegistry("SERVER",
                                  RegistryService::Root::kLocalMachine,
                                  &key) != kErrorSuccess) {
      return false;
    }
    registry->CloseKey(key);
    return true;
  };
  MessageModules::Module first =
      modules_->LoadLibraryEx("c:\\windows\\system32\\rules.dll");
  ASSERT_NE(nullptr, first);
  // A machine folder found again in another case shows in the connection.
  struct Case {
    const char* change;
    std::function<void()> make;
    std::string text;
    bool connects;
  } cases[] = {
      {"as made", [] {}, kRulesText, true},
      {"message file overwritten",
       [&] { write(system32 + "Rules.DLL", neutral); }, "Text in Neutral ",
       true},
      {"message file removed",
       [&] { std::remove((system32 + "Rules.DLL").c_str()); }, "(none)", true},
      {"message file back in other case",
       [&] { write(system32 + "RULES.dll", rules); }, kRulesText, true},
      {"message file no program",
       [&] { write(system32 + "RULES.dll", "MZ but no program"); }, "(none)",
       true},
      {"drive renamed away", [&] { move("/Drives", "/gone"); }, "(none)", true},
      {"drive back, message file restored",
       [&] {
         move("/gone", "/drives");
         write(root_ + "/drives/c/Windows/System32/RULES.dll", rules);
       },
       kRulesText, true},
      {"machine renamed away", [&] { move("/Server", "/away"); }, kRulesText,
       false},
      {"machine back in other case", [&] { move("/away", "/SERVER"); },
       kRulesText, true},
      {"export removed",
       [&] { std::remove((root_ + "/SERVER/registry.reg").c_str()); },
       kRulesText, false},
      {"export back in other case",
       [&] { write(root_ + "/SERVER/REGISTRY.REG", registry_text); },
       kRulesText, true},
  };
  for (const Case& c : cases) {
    c.make();
    EXPECT_EQ(c.text, text()) << c.change;
    EXPECT_EQ(c.connects, connects()) << c.change;
  }
  char* buffer = nullptr;
  ASSERT_NE(0u, modules_->FormatMessage(kFormatMessageFlags, first, 1, 0,
                                        &buffer, kArguments, 3));
  EXPECT_EQ(kRulesText, buffer);
  modules_->LocalFree(buffer);
  EXPECT_TRUE(modules_->FreeLibrary(first));
}

// Given the real registry export of a Windows machine, whose message files
// are named through SystemRoot and the like, alerts find their messages on
// the site's drive C with none of those variables set; a value the process
// environment gives wins.
TEST_F(PosixMessageModulesTest, StandardWindowsVariables) {
  // The shared test data lies in shared/testdata beside the repository.
  std::ifstream in;
  for (std::filesystem::path folder = __FILE__;
       !in.is_open() && folder != folder.parent_path();) {
    folder = folder.parent_path();
    in.open(folder / "shared/testdata/reg/EventLog.reg", std::ios::binary);
  }
  if (!in) GTEST_SKIP() << "shared/testdata is absent";
  std::filesystem::create_directory(root_ + "/Server");
  std::ofstream(root_ + "/Server/registry.reg", std::ios::binary) << in.rdbuf();
  const char* const kVariables[] = {"SystemRoot", "windir", "SystemDrive",
                                    "ProgramFiles", "CommonProgramFiles"};
  for (const char* name : kVariables) unsetenv(name);
  const std::string rules = ReadMessageFile("rules64");
  const std::string message = "Inserts a, b and c. ";
  struct Case {
    const char* log;
    const char* source;  // its file in the export, after its variable
    const char* file;
    const char* environment;
    std::string body;
  } cases[] = {
      {"System", "Service Control Manager", "Windows/system32/services.exe",
       nullptr, message},
      {"Application", "ESENT", "Windows/system32/esent.dll", nullptr, message},
      {"System", "LsaSrv", "Windows/System32/lsasrv.dll", nullptr, message},
      {"System", "Microsoft-Windows-Kernel-XDV",
       "Windows/System32/Drivers/VerifierExt.sys", nullptr, message},
      {"System", "WinDefend", "Program Files/Windows Defender/MpEvMsg.dll",
       nullptr, message},
      {"Application", "Handwriting Recognition",
       "Program Files/Common Files/Microsoft Shared/Ink/IPSEventLogMsg.dll",
       nullptr, message},
      {"System", "Service Control Manager", "Windows/system32/services.exe",
       "D:\\Windows", "a|b|c"},
  };
  auto registry = MakeSystemRegistry();
  for (const Case& c : cases) {
    std::filesystem::path file = root_ + "/Drives/c/" + c.file;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << rules;
    if (c.environment != nullptr) setenv("SystemRoot", c.environment, 1);
    EventFields fields;
    fields.computer = "Server";
    fields.source = c.source;
    fields.strings = {"a", "b", "c"};
    EXPECT_EQ(std::string("Server*") + std::string(c.log, 3) + "*ERR*" +
                  c.source + "*1*" + c.body,
              RenderAlert(*registry, *modules_, MakeEventRecord(fields), c.log))
        << c.source;
    unsetenv("SystemRoot");
  }
}

}  // namespace
}  // namespace sentory
