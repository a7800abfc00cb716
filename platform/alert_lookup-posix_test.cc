// An alert's message lookup from end to end through the Linux stand-ins: the
// event's computer's registry export in the site, the environment of the
// process, and a message file under the site's drives.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "eventlog/alert_text.h"
#include "platform/message_module.h"
#include "platform/registry.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

#ifdef SENTORY_MESSAGE_FILES
constexpr const char* kMessageFiles = SENTORY_MESSAGE_FILES;
#else
constexpr const char* kMessageFiles = "";
#endif

// "%SystemRoot%\System32\none.dll;%SystemRoot%\System32\rules.dll" as the
// registry editor writes an expandable value, in UTF-16LE.
std::string ExpandableList() {
  std::string text =
      "%SystemRoot%\\System32\\none.dll;%SystemRoot%\\System32\\rules.dll";
  std::string hex;
  char byte[8];
  for (char c : text + '\0') {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return hex;
}

class AlertLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream dll(std::string(kMessageFiles) + "/rules64.dll",
                      std::ios::binary);
    if (!dll) GTEST_SKIP() << "the test message files were not built";
    char folder[] = "/tmp/sentory-lookup-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    setenv("SYSTEMROOT", "C:\\Windows", 1);
    for (const char* part :
         {"/SERVER1", "/drives", "/drives/C", "/drives/C/WINDOWS",
          "/drives/C/WINDOWS/system32"}) {
      mkdir((root_ + part).c_str(), 0700);
    }
    std::ofstream(root_ + "/drives/C/WINDOWS/system32/Rules.dll",
                  std::ios::binary)
        << dll.rdbuf();
    std::ofstream(root_ + "/SERVER1/registry.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog"
           "\\System\\Rules]\r\n\"EventMessageFile\"=hex(2):"
        << ExpandableList() << "\r\n";
  }

  void TearDown() override {
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
    unsetenv("SENTORY_ROOT");
    unsetenv("SYSTEMROOT");
  }

  std::string Render(const EventFields& fields) {
    EventRecord record = MakeEventRecord(fields);
    return RenderAlert(*registry_, *messages_, record, "System");
  }

  std::string root_;
  std::unique_ptr<RegistryService> registry_ = MakeSystemRegistry();
  std::unique_ptr<MessageModules> messages_ = MakeSystemMessageModules();
};

// Given an event whose source is registered on its computer, the alert
// carries the message from the second file of the list, formatted as
// Windows formats it; an unregistered source, an unknown identifier and an
// unknown computer carry the insertion strings.
TEST_F(AlertLookupTest, FormatsTheRegisteredMessage) {
  struct Case {
    std::uint32_t event_id;
    std::string source;
    std::string computer;
    const char* alert;
  } cases[] = {
      {0xC0070002, "Rules", "server1",
       "server1*Sys*ERR*Rules*2*Full identifier C0070002: disk0 "},
      {8, "Rules", "SERVER1",
       "SERVER1*Sys*ERR*Rules*8*Missing %3 and     %4 and %12, given disk0. "},
      {4, "Rules", "SERVER1",
       "SERVER1*Sys*ERR*Rules*4*Breaks |hard return |tab | "},
      {2, "Other", "SERVER1", "SERVER1*Sys*ERR*Other*2*disk0|x"},
      {0x1234, "Rules", "SERVER1", "SERVER1*Sys*ERR*Rules*4660*disk0|x"},
      {2, "Rules", "SERVER2", "SERVER2*Sys*ERR*Rules*2*disk0|x"},
  };
  for (const Case& c : cases) {
    EventFields fields;
    fields.event_id = c.event_id;
    fields.source = c.source;
    fields.computer = c.computer;
    fields.strings = {"disk0", "x"};
    EXPECT_EQ(c.alert, Render(fields));
  }
}

}  // namespace
}  // namespace sentory
