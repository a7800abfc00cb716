#include "runner/alert_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_services.h"
#include "winformat/command_line.h"

namespace sentory {
namespace {

const char kTime[] = "Mon Dec 07 03:04:40 2026";

// The program and two quoted arguments, which split back into exactly the
// time and the text as received (an unquoted tab splits the program itself).
TEST(AlertProgramTest, FormsCommandLine) {
  const std::string x981(981, 'x'), x982(982, 'x'), x983(983, 'x'),
      p993(993, 'p'), t = std::string(" \"") + kTime + "\" \"";
  const struct {
    std::string program, text, line, received;
    std::size_t words = 3;
  } cases[] = {
      {"alert.exe", "SRV*Sys*WARN*Disk*11*Bad block",
       "alert.exe" + t + "SRV*Sys*WARN*Disk*11*Bad block\"",
       "SRV*Sys*WARN*Disk*11*Bad block"},
      {"C:\\My Tools\\alert.exe", "text",
       "\"C:\\My Tools\\alert.exe\"" + t + "text\"", "text"},
      {"alert\tx.exe", "text", "alert\tx.exe" + t + "text\"", "text", 4},
      {"a.exe", "say \"hi\" & | \"", "a.exe" + t + "say 'hi' & | '\"",
       "say 'hi' & | '"},
      {"a.exe", "C:\\dir\\\"x\\\\y", "a.exe" + t + "C:\\dir\\'x\\\\y\"",
       "C:\\dir\\'x\\\\y"},
      {"a.exe", "dir\\\\", "a.exe" + t + "dir\\\\\\\\\"", "dir\\\\"},
      // Cut to fit 1022 characters: a lone backslash dropped, a doubled kept.
      {"alert1.exe", std::string(2000, 'x'), "alert1.exe" + t + x983 + "\"",
       x983},
      {"alert1.exe", x982 + "\\yyy", "alert1.exe" + t + x982 + "\"", x982},
      {"alert1.exe", x981 + "\\\\yy", "alert1.exe" + t + x981 + "\\\\\"",
       x981 + "\\"},
      {p993, "text", p993 + t + "\"", ""},
  };
  for (const auto& c : cases) {
    FakeConsole console;
    OutputStream out(console);
    FakeProcessLauncher launcher;
    EXPECT_EQ(0, RunAlertProgram(launcher, out, c.program.c_str(), kTime,
                                 c.text.c_str()));
    EXPECT_EQ(std::vector<std::string>{c.line}, launcher.command_lines);
    std::vector<std::string> words = SplitCommandLine(c.line);
    ASSERT_EQ(c.words, words.size()) << c.line;
    EXPECT_EQ(c.words == 3 ? c.program : words[0], words[0]);
    EXPECT_EQ(kTime, words[c.words - 2]);
    EXPECT_EQ(c.received, words[c.words - 1]);
  }
}

// Announced, waited for, process then thread handle closed; a failed start
// (error as unsigned decimal) or no room for the text: why, and 1.
TEST(AlertProgramTest, StartWaitAndFailures) {
  const std::string p994(994, 'p');
  const struct {
    std::string program;
    std::uint32_t start_error;
    std::string console;
    std::vector<std::string> calls;
  } cases[] = {
      {"alert.exe", 0, "", {"start", "wait 7", "close 7", "close 8"}},
      {"missing.exe",
       4294967295u,
       "missing.exe - CreateProcess failed. system error 4294967295\n",
       {"start"}},
      {p994, 0, p994 + " - command line too long\n", {}},
  };
  for (const auto& c : cases) {
    FakeConsole console;
    OutputStream out(console);
    FakeProcessLauncher launcher;
    launcher.start_error = c.start_error;
    EXPECT_EQ(c.console.empty() ? 0 : 1,
              RunAlertProgram(launcher, out, c.program.c_str(), kTime, "t"));
    EXPECT_EQ(" Running: " + c.program + "\n" + c.console, console.console);
    EXPECT_EQ(c.calls, launcher.calls);
  }
}

}  // namespace
}  // namespace sentory
