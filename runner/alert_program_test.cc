#include "runner/alert_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winformat/command_line.h"
#include "tests/support/fake_process_launcher.h"
#include "tests/support/fakes.h"

namespace sentory {
namespace {

const char kTime[] = "Mon Dec 07 03:04:40 2026";
const std::string kQuotedTime = std::string("\"") + kTime + "\"";

struct CommandLineCase {
  const char* name;
  std::string program;
  std::string alert_text;
  std::string expected_line;  // the whole command line
  std::string received;       // the alert text as the program receives it
  std::size_t words = 3;      // how many words the line splits into
};

// Given a program and an alert text, the command line holds the program and
// two quoted arguments, and splits back into the program and exactly those
// two arguments (an unquoted tab splits the program itself).
TEST(AlertProgramTest, FormsCommandLine) {
  const std::string x982(982, 'x');
  const std::string x983(983, 'x');
  const CommandLineCase cases[] = {
      {"plain", "alert.exe", "SRV*Sys*WARN*Disk*11*Bad block",
       "alert.exe " + kQuotedTime + " \"SRV*Sys*WARN*Disk*11*Bad block\"",
       "SRV*Sys*WARN*Disk*11*Bad block"},
      {"blank quotes the program", "C:\\My Tools\\alert.exe", "text",
       "\"C:\\My Tools\\alert.exe\" " + kQuotedTime + " \"text\"", "text"},
      {"tab does not quote", "alert\tx.exe", "text",
       "alert\tx.exe " + kQuotedTime + " \"text\"", "text", 4},
      {"double quotes become single", "a.exe", "say \"hi\" & | \"",
       "a.exe " + kQuotedTime + " \"say 'hi' & | '\"", "say 'hi' & | '"},
      {"inner backslashes kept", "a.exe", "C:\\dir\\\"x\\\\y",
       "a.exe " + kQuotedTime + " \"C:\\dir\\'x\\\\y\"", "C:\\dir\\'x\\\\y"},
      {"trailing backslashes doubled", "a.exe", "dir\\\\",
       "a.exe " + kQuotedTime + " \"dir\\\\\\\\\"", "dir\\\\"},
      {"983 characters after a 10-character program", "alert1.exe",
       std::string(2000, 'x'),
       "alert1.exe " + kQuotedTime + " \"" + x983 + "\"", x983},
      {"cut drops a lone backslash", "alert1.exe", x982 + "\\yyy",
       "alert1.exe " + kQuotedTime + " \"" + x982 + "\"", x982},
      {"cut keeps a doubled backslash", "alert1.exe",
       std::string(981, 'x') + "\\\\yy",
       "alert1.exe " + kQuotedTime + " \"" + std::string(981, 'x') + "\\\\\"",
       std::string(981, 'x') + "\\"},
      {"longest program leaves an empty text", std::string(993, 'p'), "text",
       std::string(993, 'p') + " " + kQuotedTime + " \"\"", ""},
  };
  for (const CommandLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    OutputStream out(console);
    FakeProcessLauncher launcher;
    EXPECT_EQ(0, RunAlertProgram(launcher, out, c.program.c_str(), kTime,
                                 c.alert_text.c_str()));
    ASSERT_EQ(1u, launcher.command_lines.size());
    EXPECT_EQ(c.expected_line, launcher.command_lines[0]);
    std::vector<std::string> words =
        SplitCommandLine(launcher.command_lines[0]);
    ASSERT_EQ(c.words, words.size());
    if (c.words == 3) {
      EXPECT_EQ(c.program, words[0]);
    }
    EXPECT_EQ(kTime, words[c.words - 2]);
    EXPECT_EQ(c.received, words[c.words - 1]);
  }
}

// Given a program that starts, we should announce it, wait for it and close
// the process handle, then the thread handle.
TEST(AlertProgramTest, WaitsAndClosesBothHandles) {
  FakeConsole console;
  OutputStream out(console);
  FakeProcessLauncher launcher;
  EXPECT_EQ(0, RunAlertProgram(launcher, out, "alert.exe", kTime, "text"));
  EXPECT_EQ(" Running: alert.exe\n", console.console);
  EXPECT_EQ((std::vector<std::string>{"start", "wait 7", "close 7", "close 8"}),
            launcher.calls);
}

// Given a start that fails, we should write the failure line with the error
// code as unsigned decimal and return 1 without waiting.
TEST(AlertProgramTest, ReportsFailedStart) {
  FakeConsole console;
  OutputStream out(console);
  FakeProcessLauncher launcher;
  launcher.start_error = 4294967295u;
  EXPECT_EQ(1, RunAlertProgram(launcher, out, "missing.exe", kTime, "text"));
  EXPECT_EQ(
      " Running: missing.exe\n"
      "missing.exe - CreateProcess failed. system error 4294967295\n",
      console.console);
  EXPECT_EQ(std::vector<std::string>{"start"}, launcher.calls);
}

// Given a program that leaves no room for the alert text, we should start
// nothing and never write past the command line's buffer.
TEST(AlertProgramTest, RefusesProgramTooLong) {
  const std::string program(994, 'p');
  FakeConsole console;
  OutputStream out(console);
  FakeProcessLauncher launcher;
  EXPECT_EQ(1, RunAlertProgram(launcher, out, program.c_str(), kTime, "t"));
  EXPECT_EQ(
      " Running: " + program + "\n" + program + " - command line too long\n",
      console.console);
  EXPECT_TRUE(launcher.calls.empty());
}

}  // namespace
}  // namespace sentory
