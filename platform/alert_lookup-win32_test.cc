// An alert's message lookup from end to end through the real registry,
// environment and message formatter: the same event and message file as
// the Linux stand-ins' test, with the same alert text.

#include <gtest/gtest.h>
#include <windows.h>

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

constexpr char kSourceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Rules";

// Registers source Rules in the System log of this computer, with an
// expandable list whose first file is missing, for the test's length.
class Win32AlertLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string file = std::string(kMessageFiles) + "/rules64.dll";
    if (!std::ifstream(file))
      GTEST_SKIP() << "the test message files were not built";
    for (char& c : file) {
      if (c == '/') c = '\\';
    }
    if (file[0] == '\\') file = "Z:" + file;
    std::string list = "%SystemRoot%\\System32\\none.dll;" + file;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(list.c_str()),
                   static_cast<DWORD>(list.size() + 1));
    RegCloseKey(key);
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    computer_ = name;
  }

  void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSourceKey); }

  std::string computer_;
  std::unique_ptr<RegistryService> registry_ = MakeSystemRegistry();
  std::unique_ptr<MessageModules> messages_ = MakeSystemMessageModules();
};

// Given an event of this computer whose source is registered, the alert
// carries the message of the second file, as the Linux stand-ins give it;
// an unknown identifier and an unreachable computer carry the strings.
TEST_F(Win32AlertLookupTest, FormatsTheRegisteredMessage) {
  struct Case {
    std::uint32_t event_id;
    std::string computer;
    std::string body;
  } cases[] = {
      {0xC0070002, computer_, "Full identifier C0070002: disk0 "},
      {8, computer_, "Missing %3 and     %4 and %12, given disk0. "},
      {4, computer_, "Breaks |hard return |tab | "},
      {0x1234, computer_, "disk0|x"},
      {2, "NO-SUCH-SERVER", "disk0|x"},
  };
  for (const Case& c : cases) {
    EventFields fields;
    fields.event_id = c.event_id;
    fields.source = "Rules";
    fields.computer = c.computer;
    fields.strings = {"disk0", "x"};
    EventRecord record = MakeEventRecord(fields);
    std::string header = c.computer + "*Sys*ERR*Rules*" +
                         std::to_string(c.event_id & 0xFFFF) + "*";
    EXPECT_EQ(header + c.body,
              RenderAlert(*registry_, *messages_, record, "System"));
  }
}

}  // namespace
}  // namespace sentory
