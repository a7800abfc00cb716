#include "tools/tap-terminal/terminal_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tap-terminal/page_line.h"

namespace sentory::tapterm {
namespace {

bool Parse(std::vector<const char*> args, TerminalOptions* out) {
  std::string error;
  bool ok = ParseTerminalOptions(static_cast<int>(args.size()), args.data(),
                                 out, &error);
  EXPECT_EQ(ok, error.empty()) << error;
  return ok;
}

// Most options are read in the modem's tests, which set up their modems
// and terminals through them.
TEST(TerminalOptionsTest, ReadsNumbersAndKeepsDefaults) {
  TerminalOptions options;
  ASSERT_TRUE(Parse({"--link", "dev/com1", "--late-id", "010", "--drop-after",
                     "0x1f", "--verbose"},
                    &options));
  EXPECT_EQ(options.link, "dev/com1");
  EXPECT_EQ(options.terminal.late_id_crs, 10);  // decimal, not octal
  EXPECT_EQ(options.terminal.drop_after, 31);
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.modem.guard_ms, 500);  // untouched defaults stay
  EXPECT_TRUE(Parse({"--help"}, &options));
  EXPECT_TRUE(options.help);
}

TEST(TerminalOptionsTest, RefusesBadCommandLines) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"--busy"},
      {"--link"},
      {"--link", "x", "--nak-block"},
      {"--link", "x", "--nak-block", "-1"},
      {"--link", "x", "--guard", "5s"},
      {"--link", "x", "--guard", "0x"},
      {"--link", "x", "--wrong-byte", "256"},
      {"--link", "x", "--busy", "--no-carrier"},
      {"--link", "x", "--what"},
  };
  for (const auto& args : cases) {
    TerminalOptions options;
    EXPECT_FALSE(Parse(args, &options)) << args.size();
  }
}

TEST(PageLineTest, KeepsEachPageOnOneLine) {
  EXPECT_EQ(PageLine({"1234567", "Disk C: 95% full"}),
            "PAGE 1234567 Disk C: 95% full");
  EXPECT_EQ(PageLine({"", "abc"}), "PAGE  abc");
  EXPECT_EQ(PageLine({"9", "a\tb\xe9\\n"}), "PAGE 9 a\\x09b\\xE9\\n");
  EXPECT_EQ(VisibleBytes("\x02"
                         "1\r\x03"
                         "0\x7f"),
            "<STX>1<CR><ETX>0\\x7F");
}

}  // namespace
}  // namespace sentory::tapterm
