#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/drive_path.h"
#include "platform/message_module.h"
#include "platform/registry.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

const char* const kArguments[] = {"a", "b", "c"};
// The line break that ends a message's text is a blank.
const std::string kRulesText = "Inserts a, b and c. ";

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A site whose drive C holds Windows/System32/Rules.DLL, a test message file.
class PosixMessageModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (rules_.empty()) GTEST_SKIP() << "the test message files were not built";
    char folder[] = "/tmp/sentory-modules-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    std::filesystem::create_directories(root_ + "/Drives/c/Windows/System32");
    Write(root_ + "/Drives/c/Windows/System32/Rules.DLL", rules_);
  }
  void TearDown() override {
    if (!root_.empty()) std::filesystem::remove_all(root_);
    unsetenv("SENTORY_ROOT");
  }

  // Message 1 of |module| with kArguments, or "(no message)".
  std::string Format(MessageModules::Module module,
                     std::uint32_t flags = kFormatMessageFlags) {
    char* buffer = nullptr;
    if (modules_->FormatMessage(flags, module, 1, 0, &buffer, kArguments, 3) ==
        0) {
      return "(no message)";
    }
    std::string text = buffer;
    modules_->LocalFree(buffer);
    return text;
  }

  const std::string rules_ = ReadMessageFile("rules64");
  std::string root_;
  std::unique_ptr<MessageModules> modules_ = MakeSystemMessageModules();
};

// Given Windows file names, each part is found without regard to case
// under the site's drives; ".." stays on the drive.
TEST_F(PosixMessageModulesTest, DrivePaths) {
  const std::string file = root_ + "/Drives/c/Windows/System32/Rules.DLL";
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\WINDOWS\\system32\\rules.dll", file},
      {"c:/windows//System32/./RULES.dll", file},
      {"C:\\..\\..\\Windows\\System32\\Rules.dll", file},
      {"D:\\Windows\\System32\\Rules.dll", ""},
      {"Windows\\System32\\Rules.dll", ""},
      {"\\\\server\\share\\Rules.dll", ""},
      {file, file},
  };
  for (const auto& [name, path] : cases)
    EXPECT_EQ(path, DrivePath(name.c_str()));
}

// Given message files, machine folders and registry exports that change,
// vanish and return between loads, each load and connection sees the site
// as it is then, though the same service has found and read them before; a
// module loaded before its file changed keeps its text, and unloads once;
// flags other than the program's, and a module unloaded, give no message.
TEST_F(PosixMessageModulesTest, SeesTheSiteAsItIsNow) {
  const std::string system32 = root_ + "/Drives/c/Windows/System32/";
  const std::string neutral = ReadMessageFile("neutral_first64");
  ASSERT_FALSE(neutral.empty());
  const std::string registry_text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Src]\r\n\"V\"=\"1\"\r\n";
  auto move = [this](const char* from, const char* to) {
    std::rename((root_ + from).c_str(), (root_ + to).c_str());
  };
  std::filesystem::create_directory(root_ + "/Server");
  Write(root_ + "/Server/registry.reg", registry_text);
  auto registry = MakeSystemRegistry();
  auto text = [&]() -> std::string {
    MessageModules::Module module =
        modules_->LoadLibraryEx("C:\\Windows\\System32\\Rules.dll");
    if (module == nullptr) return "(none)";
    std::string result = Format(module);
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
      modules_->LoadLibraryEx("c:\\windows\\SYSTEM32\\rules.dll");
  ASSERT_NE(nullptr, first);
  struct Case {
    const char* change;
    std::function<void()> make;
    std::string text;
    bool connects;
  } cases[] = {
      {"as made", [] {}, kRulesText, true},
      {"message file overwritten",
       [&] { Write(system32 + "Rules.DLL", neutral); }, "Text in Neutral ",
       true},
      {"message file removed",
       [&] { std::remove((system32 + "Rules.DLL").c_str()); }, "(none)", true},
      {"message file back in other case",
       [&] { Write(system32 + "RULES.dll", rules_); }, kRulesText, true},
      {"message file no program",
       [&] { Write(system32 + "RULES.dll", "MZ but no program"); }, "(none)",
       true},
      {"drive renamed away", [&] { move("/Drives", "/gone"); }, "(none)", true},
      {"drive back, message file restored",
       [&] {
         move("/gone", "/drives");
         Write(root_ + "/drives/c/Windows/System32/RULES.dll", rules_);
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
       [&] { Write(root_ + "/SERVER/REGISTRY.REG", registry_text); },
       kRulesText, true},
  };
  for (const Case& c : cases) {
    c.make();
    EXPECT_EQ(c.text, text()) << c.change;
    EXPECT_EQ(c.connects, connects()) << c.change;
  }
  EXPECT_EQ(kRulesText, Format(first));
  EXPECT_EQ("(no message)", Format(first, kFormatMessageFlags & ~0x2000u));
  char* none = nullptr;  // a message the file does not hold
  EXPECT_EQ(0u, modules_->FormatMessage(kFormatMessageFlags, first, 99, 0,
                                        &none, kArguments, 3));
  EXPECT_EQ(nullptr, none);
  EXPECT_TRUE(modules_->FreeLibrary(first));
  EXPECT_FALSE(modules_->FreeLibrary(first));
  EXPECT_EQ("(no message)", Format(first));
}

}  // namespace
}  // namespace sentory
