// Message texts against Windows' own: the portable message-table reader and
// formatter against FormatMessageA under Wine, and the alert texts of the
// Linux program against those of the Windows program under Wine.

#include "platform/message_module.h"
#include "tests/child_process.h"
#include "tests/support/message_files.h"
#include "winformat/message_format.h"
#include "winformat/message_table.h"

namespace sentory {
namespace {

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  }
  return hex;
}

// What the Linux side gives, in the peer's output form.
std::string LinuxResult(const std::string& image, std::uint32_t id,
                        const Words& inserts) {
  std::vector<const char*> arguments;
  for (const std::string& s : inserts) arguments.push_back(s.c_str());
  std::string message, text;
  if (!FindMessage(image, id, 0, &message) ||
      !FormatMessageText(message, kFormatMessageFlags & kMaxWidthMask,
                         arguments.data(),
                         static_cast<std::uint32_t>(arguments.size()), &text) ||
      text.empty()) {
    return "fail";
  }
  return "ok " + Hex(text);
}

using MessagePeerTest = SiteTest;

TEST_F(MessagePeerTest, EveryMessageAndInsertSetFormatsAsWindowsDoes) {
  const std::string peer = MessageFilesFolder() + "/format_peer.exe";
  if (MessageFilesFolder().empty() || access(peer.c_str(), R_OK) != 0 ||
      std::system("command -v wine >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "the test message files were not built, or no wine";
  }
  setenv("WINEPREFIX", (MessageFilesFolder() + "/../wineprefix").c_str(), 0);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  unsetenv("DISPLAY");
  // Wine's services keep inherited streams open: start them with none.
  ASSERT_EQ(0, std::system("wine cmd /c exit 0 </dev/null >/dev/null 2>&1"));
  Words many;
  for (int i = 1; i <= 99; ++i) many.push_back("x" + std::to_string(i));
  const std::vector<Words> insert_sets = {
      {},
      {"one"},
      {"one", "two", "three"},
      {"a\r\nb", "tab\there", ""},
      {"Caf\xE9", "\x80\xFF\x81"},
      Split("i1 i2 i3 i4 i5 i6 i7 i8 i9 i10 i11 i12"),
      many,
  };
  const std::uint32_t ids[] = {1,  2,           3,           4,      5,  6,
                               7,  8,           9,           10,     11, 12,
                               13, 0xC0070002u, 0x8FFFFFFFu, 0x1234u};
  std::string cases;  // a case a line: the identifier, then the inserts
  for (std::uint32_t id : ids) {
    for (const Words& inserts : insert_sets) {
      cases += std::to_string(id);
      for (const std::string& s : inserts) cases += '\t' + Hex(s);
      cases += "\n";
    }
  }
  std::ofstream(At("cases.txt"), std::ios::binary) << cases;
  for (const std::string& file :
       Split("rules64 rules32 rules_ansi64 rules_ansi32 neutral_first64 "
             "neutral_first32 english_second64 first_present64 "
             "first_present32")) {
    SCOPED_TRACE(file);
    const std::string command =
        "wine '" + peer + "' 'Z:" + MessageFilesFolder() + "/" + file +
        ".dll' 'Z:" + At("cases.txt") + "' 'Z:" + At("out.txt") +
        "' </dev/null >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    std::istringstream lines(ReadFileText(At("out.txt")));
    std::string image = ReadMessageFile(file), line;
    int ok = 0;
    for (std::uint32_t id : ids) {
      for (const Words& inserts : insert_sets) {
        ASSERT_TRUE(std::getline(lines, line));
        line = line.rfind("ok ", 0) == 0 && ++ok ? line : "fail";
        EXPECT_EQ(line, LinuxResult(image, id, inserts))
            << "message " << std::hex << id << " with " << std::dec
            << inserts.size() << " inserts";
      }
    }
    EXPECT_GT(ok, 0) << "no message formatted at all";
  }
}

using MessageTextTest = SiteTest;

// Events of a registered source, of an unknown identifier and of another
// source: both programs alert the messages and the fallback bodies.
TEST_F(MessageTextTest, SameAlertTextOnLinuxAndUnderWine) {
  const std::string dll = MessageFilesFolder() + "/rules64.dll";
  if (TestingWindowsBuild() || MessageFilesFolder().empty() ||
      !fs::exists(dll)) {
    GTEST_SKIP() << "run with the Linux build and the message files";
  }
  // This computer, as Wine names it: the only one whose registry Wine reaches.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string machine = host;
  for (char& c : machine) c = static_cast<char>(std::toupper(c));
  fs::copy_file(dll, At("drives/c/sentory", true) + "/rules.dll");
  // The list as an expandable value, in UTF-16LE as the registry editor
  // writes it (Wine's reads hex(2) text of another encoding as bytes).
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog"
      "\\Application\\Peer]\r\n\"EventMessageFile\"=hex(2):";
  for (char c : std::string("C:\\sentory\\none.dll;%SystemDrive%\\sentory"
                            "\\rules.dll") +
                    '\0') {
    text += Hex(std::string(1, c)) + ",00,";
  }
  text.back() = '\r';
  std::string wide = "\xFF\xFE";
  for (char c : text + "\n") wide += std::string{c, '\0'};
  const std::string export_path = At(machine, true) + "/registry.reg";
  std::ofstream(export_path, std::ios::binary) << wide;
  const char* site_exe = std::getenv("SENTORY_SITE_EXE");
  const char* prefix = std::getenv("WINEPREFIX");
  const bool with_wine = site_exe != nullptr && prefix != nullptr;
  if (with_wine) {
    fs::create_directories(std::string(prefix) + "/drive_c/sentory");
    fs::copy_file(dll, std::string(prefix) + "/drive_c/sentory/rules.dll",
                  fs::copy_options::overwrite_existing);
    ASSERT_EQ(Run({"wine", "regedit", "/S", "Z:" + export_path}), 0);
  }
  // An alert program that does nothing: under Wine, the peer given no files.
  fs::copy_file(MessageFilesFolder() + "/format_peer.exe", At("alert.exe"));
  env_.push_back("SystemDrive=C:");
  const std::string watch = "/M0 " + machine + " /APP /S EWISF /R ";
  ChildProcess wine_monitor;
  ASSERT_TRUE(Start(monitor_, watch + "true"));
  std::vector<ChildProcess*> monitors = {&monitor_};
  if (with_wine) {
    ASSERT_TRUE(wine_monitor.Start(
        Split("wine " + std::string(site_exe) + " " + watch + "alert.exe"),
        env_, site_));
    ASSERT_TRUE(wine_monitor.WaitForOutput("Scanning event logs", 60));
    monitors.push_back(&wine_monitor);
  }
  sleep(3);  // both have visited the empty log once
  for (const char* event :
       {"Peer --id 0xC0070002 --type error disk0 x",
        "Peer --id 8 --type warning one", "Peer --id 4 --type information",
        "Peer --id 0x1234 --type error a b", "Other --id 2 --type error u v"}) {
    Write(machine + " Application --source " + event);
  }
  const std::string last = machine + "*App*ERR*Other*2*u|v\n";
  Words expected = {
      "*App*ERR*Peer*2*Full identifier C0070002: disk0 ",
      "*App*WARN*Peer*8*Missing %3 and     %4 and %12, given one. ",
      "*App*INFO*Peer*4*Breaks |hard return |tab | ", "*App*ERR*Peer*4660*a|b",
      "*App*ERR*Other*2*u|v"};
  for (std::string& alert : expected) alert = machine + alert;
  for (ChildProcess* monitor : monitors) {
    ASSERT_TRUE(monitor->WaitForOutput(last, 60)) << monitor->Output();
    EXPECT_EQ(expected, Alerts(monitor->Output()));
  }
}

}  // namespace
}  // namespace sentory
