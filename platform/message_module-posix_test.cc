#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/drive_path.h"
#include "platform/message_module.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

// A site whose drive C holds Windows/System32/Rules.DLL (a test message
// file) and a file that is not a program.
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
    for (const char* part : {"/Drives", "/Drives/c", "/Drives/c/Windows",
                             "/Drives/c/Windows/System32"}) {
      mkdir((root_ + part).c_str(), 0700);
    }
    std::ofstream(system32 + "/Rules.DLL", std::ios::binary) << rules;
    std::ofstream(system32 + "/text.dll") << "MZ but no program";
  }

  void TearDown() override {
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
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
// no message; a missing file and one that is not a program do not load.
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
  for (const char* name :
       {"C:\\Windows\\System32\\none.dll", "C:\\Windows\\System32\\text.dll"}) {
    EXPECT_EQ(nullptr, modules_->LoadLibraryEx(name)) << name;
  }
}

}  // namespace
}  // namespace sentory
