#include "eventlog/alert_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_services.h"

namespace sentory {
namespace {

constexpr char kSystemKey[] =
    "System\\CurrentControlSet\\Services\\EventLog\\System\\Disk";

class AlertTextTest : public testing::Test {
 protected:
  std::string Render(const EventFields& fields, const char* log = "System") {
    EventRecord record = MakeEventRecord(fields);
    std::string text = RenderAlert(registry_, messages_, record, log);
    EXPECT_EQ(registry_.open_keys + messages_.loaded + messages_.buffers, 0);
    for (char c : text) EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int(c);
    return text;
  }

  void Register(const std::string& list, std::uint32_t type = kRegSz) {
    registry_.Set("SERVER1", kSystemKey, "EventMessageFile", type,
                  list + std::string(1, '\0'));
  }

  FakeRegistry registry_;
  FakeMessages messages_;
};

EventFields Event(std::uint32_t id, std::uint16_t type,
                  std::vector<std::string> strings = {}) {
  return {1, 0, id, type, "Disk", "SERVER1", std::move(strings)};
}

// No message: the header and the insertion strings joined with "|", cleaned.
TEST_F(AlertTextTest, HeaderAndFallbackBody) {
  EXPECT_EQ(Render(Event(11, 1)), "SERVER1*Sys*ERR*Disk*11*");
  EXPECT_EQ(Render(Event(11, 2, {"a", "", "c"})),
            "SERVER1*Sys*WARN*Disk*11*a||c");
  for (std::uint16_t unknown_type : {0, 3, 32}) {
    EXPECT_EQ(Render(Event(5, unknown_type), "Application"),
              "SERVER1*App**Disk*5*");
  }
  EXPECT_EQ(Render(Event(0xFFFF, 1)), "SERVER1*Sys*ERR*Disk*65535*");
  EXPECT_EQ(
      Render(Event(1, 1, {"line\r\nnext", "tab\there", "caf\xe9", "\x01"})),
      "SERVER1*Sys*ERR*Disk*1*line |next|tab here|caf | ");
}

// Each file of the list in turn, empty names skipped and blanks kept, until
// one holds the full 32-bit identifier.
TEST_F(AlertTextTest, MessageFileSearchOrder) {
  Register(";missing.dll;;first.dll; second.dll;");
  messages_.files["first.dll"][7] = "wrong identifier";
  messages_.files[" second.dll"][0xC0000007] = "Disk %1 failed\r\nat %2";
  EXPECT_EQ(Render(Event(0xC0000007, 1, {"C:", "boot"})),
            "SERVER1*Sys*ERR*Disk*7*Disk C: failed |at boot");
  EXPECT_EQ(messages_.loads, (std::vector<std::string>{
                                 "missing.dll", "first.dll", " second.dll"}));
}

// Expandable values expanded, a value that just fills the buffer used, and
// the insertion strings where a lookup cannot succeed.
TEST_F(AlertTextTest, RegistryLookup) {
  const std::string x259(259, 'x'), x260(260, 'x'), s250(250, 'S');
  registry_.environment["SYSTEMROOT"] = "C:\\Windows";
  registry_.environment["LONG"] = std::string(300, 'y');
  for (const std::string& file : {std::string("C:\\Windows\\disk.dll"), x259,
                                  x260, std::string(300, 'y')}) {
    messages_.files[file][11] = "found";
  }
  const struct {
    std::string value;
    std::uint32_t type;
    std::string computer, source, body;
  } cases[] = {
      {"%SystemRoot%\\disk.dll", kRegExpandSz, "SERVER1", "Disk", "found"},
      {"%SystemRoot%\\disk.dll", kRegSz, "SERVER1", "Disk", "s"},
      {x259, kRegSz, "SERVER1", "Disk", "found"},  // 260 with the terminator
      {x260, kRegSz, "SERVER1", "Disk", "s"},      // too large for the buffer
      {"%LONG%", kRegExpandSz, "SERVER1", "Disk", "s"},  // expands past it
      {"disk.dll", kRegSz, "SERVER1", "Tape", "s"},      // not registered
      {"disk.dll", kRegSz, "ELSEWHERE", "Tape", "s"},    // cannot be reached
      {"disk.dll", kRegSz, "ELSEWHERE", s250, "s"},      // key path past 259
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.substr(0, 20) + " " + c.source.substr(0, 5));
    Register(c.value, c.type);
    EventFields fields = Event(11, 1, {"s"});
    fields.computer = c.computer;
    fields.source = c.source;
    EXPECT_EQ(Render(fields),
              c.computer + "*Sys*ERR*" + c.source + "*11*" + c.body);
  }
}

// The root recognised by prefix in any case, the rest in upper case.
TEST(ParseRegistryRootTest, Roots) {
  struct Case {
    std::string path;
    int result;
    RegistryService::Root root = RegistryService::Root::kLocalMachine;
    std::string sub_key;
  };
  using Root = RegistryService::Root;
  const Case cases[] = {
      {"hkey_local_machine\\System\\x", 0, Root::kLocalMachine, "SYSTEM\\X"},
      {"HKEY_CLASSES_ROOT\\a", 0, Root::kClassesRoot, "A"},
      {"HKEY_CURRENT_USER", 0, Root::kCurrentUser, ""},
      {"HKEY_USERSX\\y", 0, Root::kUsers, "X\\Y"},
      {"HKEY_CURRENT_CONFIG\\x", 1, Root::kLocalMachine, ""},
      {"SOFTWARE\\x", 1, Root::kLocalMachine, ""},
      {"HKEY_USERS\\" + std::string(248, 'k'), 0, Root::kUsers,
       std::string(248, 'K')},
      {"HKEY_USERS\\" + std::string(249, 'k'), 1, Root::kLocalMachine, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Root root = Root::kLocalMachine;
    char sub_key[kRegistryTextSize];
    ASSERT_EQ(ParseRegistryRoot(c.path.c_str(), &root, sub_key), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(sub_key, c.sub_key);
  }
}

}  // namespace
}  // namespace sentory
