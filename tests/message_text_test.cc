// The same event, registry export and message file give the same alert text
// from the Linux program, reading the site's stand-ins, and from the Windows
// program under Wine, with the export imported by the registry editor and
// the message file on Wine's drive C:. The Windows half needs the Windows
// test build that reads the site's event logs: SENTORY_SITE_EXE names its
// sentory.exe, and WINEPREFIX its Wine prefix.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/support/message_files.h"

namespace sentory {
namespace {

// The list as an expandable value, written as the registry editor writes it.
std::string ExpandableValue(const std::string& text) {
  std::string hex = "hex(2):";
  char byte[8];
  for (char c : text + '\0') {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return hex;
}

bool Copy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  return in && out;
}

// The second lines of the alert blocks in |output|, without the blank that
// begins them.
std::vector<std::string> Alerts(const std::string& output) {
  std::vector<std::string> alerts;
  std::size_t pos = 0;
  while ((pos = output.find("***Alert time: ", pos)) != std::string::npos) {
    std::size_t line = output.find('\n', pos) + 1;
    std::size_t end = output.find('\n', line);
    if (end == std::string::npos) break;
    alerts.push_back(output.substr(line + 1, end - line - 1));
    pos = end;
  }
  return alerts;
}

class MessageTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestingWindowsBuild()) GTEST_SKIP() << "run with the Linux build";
    dll_ = MessageFilesFolder() + "/rules64.dll";
    tool_ = std::string(SENTORY_BUILD_DIR) + "/sentory-eventlog";
    if (MessageFilesFolder().empty() || access(dll_.c_str(), R_OK) != 0 ||
        access(tool_.c_str(), X_OK) != 0) {
      GTEST_SKIP() << "the message files or sentory-eventlog were not built";
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    // The computer that writes the events is this one, as Wine names it:
    // the only one whose registry Wine reaches.
    for (char* c = host; *c != '\0'; ++c) {
      *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    machine_ = host;
    std::string site = site_.path();
    for (const char* part : {"/drives", "/drives/c", "/drives/c/sentory"}) {
      mkdir((site + part).c_str(), 0700);
    }
    mkdir((site + "/" + machine_).c_str(), 0700);
    ASSERT_TRUE(Copy(dll_, site + "/drives/c/sentory/rules.dll"));
    export_ = site + "/" + machine_ + "/registry.reg";
    // In UTF-16LE, as the registry editor writes it (Wine's reads hex(2)
    // text of another encoding as single-byte text).
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog"
        "\\Application\\Peer]\r\n\"EventMessageFile\"=" +
        ExpandableValue(
            "C:\\sentory\\none.dll;%SystemDrive%\\sentory\\rules.dll") +
        "\r\n";
    std::string wide = "\xFF\xFE";
    for (char c : text) {
      wide.push_back(c);
      wide.push_back('\0');
    }
    std::ofstream(export_, std::ios::binary) << wide;
  }

  std::vector<std::string> Env() const {
    return {"SENTORY_ROOT=" + site_.path(), "SystemDrive=C:", "TZ=UTC"};
  }

  void Write(const std::vector<std::string>& args) {
    std::vector<std::string> command = {tool_, "write", machine_, "Application",
                                        "--source"};
    command.insert(command.end(), args.begin(), args.end());
    std::string output;
    ASSERT_EQ(RunToEnd(command, &output, Env()), 0) << output;
  }

  TempFolder site_;
  std::string dll_, tool_, machine_, export_;
};

// Given events of a registered source, of an unknown identifier and of an
// unregistered source, both programs alert the same texts, and those are
// the formatted messages and the fallback bodies.
TEST_F(MessageTextTest, SameAlertTextOnLinuxAndUnderWine) {
  const char* site_exe = std::getenv("SENTORY_SITE_EXE");
  const char* prefix = std::getenv("WINEPREFIX");
  bool with_wine = site_exe != nullptr && prefix != nullptr;
  if (with_wine) {
    std::string drive = std::string(prefix) + "/drive_c/sentory";
    mkdir(drive.c_str(), 0700);
    ASSERT_TRUE(Copy(dll_, drive + "/rules.dll"));
    std::string output;
    ASSERT_EQ(0, RunToEnd({"wine", "regedit", "/S", "Z:" + export_}, &output));
  }
  // An alert program is required: one that does nothing. Under Wine it must
  // be a Windows program, and the peer program given no files is one.
  std::string script = site_.path() + "/alert.sh";
  std::ofstream(script) << "#!/bin/sh\nexit 0\n";
  chmod(script.c_str(), 0755);
  ASSERT_TRUE(Copy(MessageFilesFolder() + "/format_peer.exe",
                   site_.path() + "/alert.exe"));
  const std::vector<std::string> watch = {"/M0", machine_, "/APP",
                                          "/S",  "EWISF",  "/R"};
  std::vector<std::string> linux_command = {std::string(SENTORY_BUILD_DIR) +
                                            "/sentory"};
  linux_command.insert(linux_command.end(), watch.begin(), watch.end());
  linux_command.push_back("alert.sh");
  ChildProcess linux_monitor, wine_monitor;
  ASSERT_TRUE(linux_monitor.Start(linux_command, Env(), site_.path()));
  ASSERT_TRUE(linux_monitor.WaitForOutput("Scanning event logs"));
  if (with_wine) {
    std::vector<std::string> wine_command = {"wine", site_exe};
    wine_command.insert(wine_command.end(), watch.begin(), watch.end());
    wine_command.push_back("alert.exe");
    ASSERT_TRUE(wine_monitor.Start(wine_command, Env(), site_.path()));
    ASSERT_TRUE(wine_monitor.WaitForOutput("Scanning event logs", 60));
  }
  sleep(4);  // both have visited the empty log once

  Write({"Peer", "--id", "0xC0070002", "--type", "error", "disk0", "x"});
  Write({"Peer", "--id", "8", "--type", "warning", "one"});
  Write({"Peer", "--id", "4", "--type", "information"});
  Write({"Peer", "--id", "0x1234", "--type", "error", "a", "b"});
  Write({"Other", "--id", "2", "--type", "error", "u", "v"});
  const std::string last = machine_ + "*App*ERR*Other*2*u|v\n";
  ASSERT_TRUE(linux_monitor.WaitForOutput(last, 30)) << linux_monitor.Output();
  const std::vector<std::string> expected = {
      machine_ + "*App*ERR*Peer*2*Full identifier C0070002: disk0 ",
      machine_ + "*App*WARN*Peer*8*Missing %3 and     %4 and %12, given one. ",
      machine_ + "*App*INFO*Peer*4*Breaks |hard return |tab | ",
      machine_ + "*App*ERR*Peer*4660*a|b",
      machine_ + "*App*ERR*Other*2*u|v",
  };
  EXPECT_EQ(expected, Alerts(linux_monitor.Output()));
  if (with_wine) {
    ASSERT_TRUE(wine_monitor.WaitForOutput(last, 60)) << wine_monitor.Output();
    EXPECT_EQ(expected, Alerts(wine_monitor.Output()));
  }
}

}  // namespace
}  // namespace sentory
