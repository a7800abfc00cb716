#include "runner/alert_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_process_launcher.h"
#include "tests/support/fakes.h"
#include "winformat/command_line.h"

namespace sentory {
namespace {

const char kTime[] = "Mon Dec 07 03:04:40 2026";
const std::string kQuotedTime = std::string(" \"") + kTime + "\" ";

// Given a program and an alert text, the command line holds the program and
// two quoted arguments, and splits back into the program and exactly those
// two arguments (an unquoted tab splits the program itself).
TEST(AlertProgramTest, FormsCommandLine) {
  const std::string x981(981, 'x'), x982(982, 'x'), x983(983, 'x');
  const struct {
    const char* name;
    std::string program, text;
    std::string line;      // the whole command line
    std::string received;  // the alert text as the program receives it
    std::size_t words = 3;
  } cases[] = {
      {"plain", "alert.exe", "SRV*Sys*WARN*Disk*11*Bad block",
       "alert.exe" + kQuotedTime + "\"SRV*Sys*WARN*Disk*11*Bad block\"",
       "SRV*Sys*WARN*Disk*11*Bad block"},
      {"blank quotes the program", "C:\\My Tools\\alert.exe", "text",
       "\"C:\\My Tools\\alert.exe\"" + kQuotedTime + "\"text\"", "text"},
      {"tab does not quote", "alert\tx.exe", "text",
       "alert\tx.exe" + kQuotedTime + "\"text\"", "text", 4},
      {"double quotes become single", "a.exe", "say \"hi\" & | \"",
       "a.exe" + kQuotedTime + "\"say 'hi' & | '\"", "say 'hi' & | '"},
      {"inner backslashes kept", "a.exe", "C:\\dir\\\"x\\\\y",
       "a.exe" + kQuotedTime + "\"C:\\dir\\'x\\\\y\"", "C:\\dir\\'x\\\\y"},
      {"trailing backslashes doubled", "a.exe", "dir\\\\",
       "a.exe" + kQuotedTime + "\"dir\\\\\\\\\"", "dir\\\\"},
      {"983 characters after a 10-character program", "alert1.exe",
       std::string(2000, 'x'), "alert1.exe" + kQuotedTime + "\"" + x983 + "\"",
       x983},
      {"cut drops a lone backslash", "alert1.exe", x982 + "\\yyy",
       "alert1.exe" + kQuotedTime + "\"" + x982 + "\"", x982},
      {"cut keeps a doubled backslash", "alert1.exe", x981 + "\\\\yy",
       "alert1.exe" + kQuotedTime + "\"" + x981 + "\\\\\"", x981 + "\\"},
      {"longest program leaves an empty text", std::string(993, 'p'), "text",
       std::string(993, 'p') + kQuotedTime + "\"\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    OutputStream out(console);
    FakeProcessLauncher launcher;
    EXPECT_EQ(0, RunAlertProgram(launcher, out, c.program.c_str(), kTime,
                                 c.text.c_str()));
    EXPECT_EQ(std::vector<std::string>{c.line}, launcher.command_lines);
    std::vector<std::string> words = SplitCommandLine(c.line);
    ASSERT_EQ(c.words, words.size());
    if (c.words == 3) {
      EXPECT_EQ(c.program, words[0]);
    }
    EXPECT_EQ(kTime, words[c.words - 2]);
    EXPECT_EQ(c.received, words[c.words - 1]);
  }
}

// Given a program that starts, we should announce it, wait for it and close
// the process handle, then the thread handle. Given a start that fails, or a
// program that leaves no room for the alert text, we should write why (the
// error code as unsigned decimal) and return 1 without waiting.
TEST(AlertProgramTest, StartWaitAndFailures) {
  const std::string p994(994, 'p');
  const struct {
    std::string program;
    std::uint32_t start_error;
    int result;
    std::string console;
    std::vector<std::string> calls;
  } cases[] = {
      {"alert.exe",
       0,
       0,
       " Running: alert.exe\n",
       {"start", "wait 7", "close 7", "close 8"}},
      {"missing.exe",
       4294967295u,
       1,
       " Running: missing.exe\nmissing.exe - CreateProcess failed. system "
       "error 4294967295\n",
       {"start"}},
      {p994,
       0,
       1,
       " Running: " + p994 + "\n" + p994 + " - command line too long\n",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program.substr(0, 12));
    FakeConsole console;
    OutputStream out(console);
    FakeProcessLauncher launcher;
    launcher.start_error = c.start_error;
    EXPECT_EQ(c.result,
              RunAlertProgram(launcher, out, c.program.c_str(), kTime, "t"));
    EXPECT_EQ(c.console, console.console);
    EXPECT_EQ(c.calls, launcher.calls);
  }
}

}  // namespace
}  // namespace sentory
