#include "paging/tap_exchange.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

const std::string kAck = "\x06", kNak = "\x15", kRs = "\x1e";
const std::string kLogon = "\x1bPG1\r";

std::string WithChecksum(std::string block) {
  char buffer[kTapBufferSize] = {};
  block.copy(buffer, kTapBufferSize - 1);
  AppendChecksum(buffer, sizeof(buffer));
  return buffer;
}

TEST(AppendChecksumTest, SumsSignedBytesInSixteenBits) {
  // 0xE9 counts as -23, not 233; -128 is 0xFF80, whose top digit is '?'.
  EXPECT_EQ(WithChecksum("\x02\r\xE9\r\x03"), "\x02\r\xE9\r\003008\r");
  char exact[6] = "\x80";  // just room for the digits, CR and terminator
  AppendChecksum(exact, sizeof(exact));
  EXPECT_STREQ(exact, "\x80?80\r");
  char short_of_one[5] = "\x80";
  AppendChecksum(short_of_one, sizeof(short_of_one));
  EXPECT_STREQ(short_of_one, "\x80");
}

// An exchange on a scripted line, with its console.
struct Exchange {
  explicit Exchange(bool trace = false)
      : tap(line, line.CreateFileA("COM1"), trace, out) {}
  int Send(const char* pin, std::string message) {
    line.transcript.clear();
    text = message;
    return tap.SendPage(pin, &text[0]);
  }
  ScriptedSerialLine line;
  FakeConsole console;
  OutputStream out{console};
  TapExchange tap;
  std::string text;
};

TEST(TapExchangeTest, SendsReferenceBlocksAndStaysLoggedOn) {
  Exchange x;
  x.line.Answer({"\r\nID=", kAck, kAck});
  EXPECT_EQ(x.Send("", "abc"), 0);
  EXPECT_EQ(x.line.Written(),
            "\r" + kLogon + "\x02\x0d\x61\x62\x63\x0d\x03\x31\x34\x35\x0d");
  EXPECT_EQ(x.tap.state(), 4u);
  for (std::uint32_t size : x.line.read_sizes) EXPECT_EQ(size, 256u);
  x.line.Answer({kAck});
  EXPECT_EQ(x.Send("1234567", "Disk C: 95% full"), 0);
  EXPECT_EQ(x.line.Written(), "\0021234567\rDisk C: 95% full\r\003639\r");
}

TEST(TapExchangeTest, RepliesToPromptLogonAndBlock) {
  struct Case {
    std::vector<std::string> replies;
    int result;
    unsigned state;
    int crs_sent, logons;
  } cases[] = {
      {{"id=", "\r" + kAck, kAck}, 0, 4, 1, 1},
      {{"ID=", "\n" + kAck}, 1, 0, 1, 1},
      {{"ID=", "\r"}, 1, 0, 1, 1},  // a lone CR yields the terminator
      {{"ID=", "\r\r" + kAck, kAck}, 1, 0, 1, 1},  // only one CR is skipped
      {{"ID=", "", "", kAck, kAck}, 0, 4, 1, 1},   // three reads per step
      {{"ID=", kNak, kNak, kNak, kAck, kNak, kAck}, 0, 4, 1, 4},
      {{"ID=", kNak, kNak, kNak, kNak, kAck, kAck}, 1, 0, 1, 4},  // resent 3x
      {{"ID=", kAck, "\r" + kRs}, 1, 4, 1, 1},
      {{"ID=", kAck, kNak, kNak, kNak, kAck}, 0, 4, 1, 1},
      {{"ID=", kAck, kNak, kNak, kNak, kNak, kAck}, 1, 4, 1, 1},  // resent 3x
      {{"ID=", kAck, "?"}, 1, 0, 1, 1},
      {{"hello", "?", "ID", "I D="}, 1, 0, 4, 0},
      {{"x", "", "", "", "x", "ID=", kAck, kAck}, 0, 4, 4, 1},
      {{}, 1, 0, 4, 0},       // silence: three empty reads are a miss
      {{"ID="}, 1, 0, 1, 1},  // silence after the logon
      {{"ID=", kAck, ScriptedSerialLine::kFails}, 1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replies.empty() ? "silence" : c.replies.back());
    Exchange x;
    x.line.replies.assign(c.replies.begin(), c.replies.end());
    x.text = "x";
    EXPECT_EQ(x.tap.SendPage("1", &x.text[0]), c.result);
    EXPECT_EQ(x.tap.state(), c.state);
    EXPECT_EQ(x.line.Count("> \r"), c.crs_sent);
    EXPECT_EQ(x.line.Count("> " + kLogon), c.logons);
  }
}

// After RS the next page goes out as a block at once; after a failure the
// next call wakes the terminal again.
TEST(TapExchangeTest, NextCallAfterRsOrAFailure) {
  Exchange x;
  x.line.Answer({"ID=", kAck, kRs, kAck});
  EXPECT_EQ(x.Send("9", "a"), 1);
  EXPECT_EQ(x.Send("9", "a"), 0);
  EXPECT_EQ(x.line.Written(), WithChecksum("\0029\ra\r\003"));
  x.line.Answer({"?", "ID=", kAck, kAck});
  EXPECT_EQ(x.Send("9", "a"), 1);
  EXPECT_EQ(x.Send("9", "a"), 0);
  EXPECT_EQ(x.line.Written().substr(0, 6), "\r" + kLogon);
}

// Given each text, the block should hold its first 245 characters with
// those that cannot be sent as '.', and so should the caller's text.
TEST(TapExchangeTest, BuildsTheBlockFromTheText) {
  const std::string a245(245, 'a');
  const struct {
    std::string text, sent;
  } cases[] = {{a245, a245},
               {a245 + std::string(55, 'z'), a245},
               {"", ""},
               {"A\tB\351C\177", "A.B.C."}};
  Exchange x;
  x.line.Answer({"ID=", kAck, kAck});
  ASSERT_EQ(x.Send("1", "logon"), 0);
  for (const auto& c : cases) {
    x.line.Answer({kAck});
    ASSERT_EQ(x.Send("123", c.text), 0);
    EXPECT_EQ(x.line.Written(), WithChecksum("\002123\r" + c.sent + "\r\x03"));
    EXPECT_EQ(x.text.substr(0, c.sent.size()), c.sent);
  }
}

TEST(TapExchangeTest, LogOffAnswers) {
  const std::pair<std::string, int> cases[] = {
      {"\x1b\x04\r", 0}, {"\r\x1b\x04\r", 1}, {"", 1}};
  Exchange x;
  for (const auto& [reply, result] : cases) {
    x.line.Answer({"ID=", kAck, kAck, reply});
    ASSERT_EQ(x.Send("1", "m"), 0);
    EXPECT_EQ(x.tap.LogOff(), result);
    EXPECT_EQ(x.tap.state(), 0u);
    EXPECT_EQ(x.line.Count("> \x04\r"), 1);
  }
}

TEST(TapExchangeTest, TracesEveryStep) {
  Exchange x(true);
  x.line.Answer({"", "X", "", "", "", "", "ID=\xE9", kNak, kAck, kAck});
  ASSERT_EQ(x.Send("1", "hi"), 0);
  EXPECT_EQ(x.console.console,
            "\nstate: 1\nout:(13)\n"
            "\nstate: 1\nin:X\n"
            "\nstate: 0\n"
            "\nstate: 1\nout:(13)\n"
            "\nstate: 1\nin:\n"  // the third empty read is a miss
            "\nstate: 0\n"
            "\nstate: 1\nout:(13)\n"
            "\nstate: 1\nin:ID=(-23)\n"
            "\nstate: 2\n"
            "\nstate: 3\nout:(27)PG1(13)\n"
            "\nstate: 3\nin:(21)\n"
            "\nstate: 2\n"
            "\nstate: 3\nout:(27)PG1(13)\n"
            "\nstate: 3\nin:(6)\n"
            "\nstate: 4\n"
            "\nstate: 5\nout:(2)1(13)hi(13)(3)121(13)\n"
            "\nstate: 5\nin:(6)\n");
  // A refused logon ends without a record of its own.
  Exchange refused(true);
  refused.line.Answer({"ID=", "?"});
  ASSERT_EQ(refused.Send("1", "hi"), 1);
  const std::string& out = refused.console.console;
  EXPECT_EQ(out.substr(out.size() - 15), "\nstate: 3\nin:?\n");
}

}  // namespace
}  // namespace sentory
