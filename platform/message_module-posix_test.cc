#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/drive_path.h"
#include "platform/message_module.h"

namespace sentory {
namespace {

#ifdef SENTORY_MESSAGE_FILES
constexpr const char* kMessageFiles = SENTORY_MESSAGE_FILES;
#else
constexpr const char* kMessageFiles = "";
#endif

// A site whose drive C holds Windows/System32/Rules.DLL (a test message
// file) and a file that is not a program.
class PosixMessageModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(std::string(kMessageFiles) + "/rules64.dll",
                     std::ios::binary);
    if (!in) GTEST_SKIP() << "the test message files were not built";
    char folder[] = "/tmp/sentory-modules-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    std::string system32 = root_ + "/Drives/c/Windows/System32";
    for (const char* part : {"/Drives", "/Drives/c", "/Drives/c/Windows",
                             "/Drives/c/Windows/System32"}) {
      mkdir((root_ + part).c_str(), 0700);
    }
    std::ofstream(system32 + "/Rules.DLL", std::ios::binary) << in.rdbuf();
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

// Given a message file named as Windows names it, its messages are
// formatted, a missing insert staying as written, and the module unloads.
TEST_F(PosixMessageModulesTest, LoadsAndFormats) {
  MessageModules::Module module =
      modules_->LoadLibraryEx("C:\\windows\\SYSTEM32\\rules.dll");
  ASSERT_NE(nullptr, module);
  const char* inserts[] = {"one", "two"};
  char* text = nullptr;
  std::uint32_t length = modules_->FormatMessage(kFormatMessageFlags, module, 1,
                                                 0, &text, inserts, 2);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ("Inserts one, two and %3. ", std::string(text, length));
  modules_->LocalFree(text);
  EXPECT_EQ(0u, modules_->FormatMessage(kFormatMessageFlags, module, 0x1234, 0,
                                        &text, inserts, 2));
  EXPECT_EQ(0u, modules_->FormatMessage(0x29FF & ~0x2000u, module, 1, 0, &text,
                                        inserts, 2));
  EXPECT_TRUE(modules_->FreeLibrary(module));
  EXPECT_FALSE(modules_->FreeLibrary(module));
  EXPECT_EQ(0u, modules_->FormatMessage(kFormatMessageFlags, module, 1, 0,
                                        &text, inserts, 2));
}

// Given a missing file and one that is not a program, nothing loads.
TEST_F(PosixMessageModulesTest, LoadFailures) {
  for (const char* name :
       {"C:\\Windows\\System32\\none.dll", "C:\\Windows\\System32\\text.dll",
        "C:\\Windows\\System32", "rules.dll"}) {
    EXPECT_EQ(nullptr, modules_->LoadLibraryEx(name)) << name;
  }
}

}  // namespace
}  // namespace sentory
