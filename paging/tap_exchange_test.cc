#include "paging/tap_exchange.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

const std::string kAck = "\x06", kNak = "\x15", kRs = "\x1e";
const std::string kLogon = "\x1bPG1\r";
const std::string kLogOffAnswer = "\x1b\x04\r";

std::string WithChecksum(std::string block) {
  char buffer[kTapBufferSize] = {};
  block.copy(buffer, kTapBufferSize - 1);
  AppendChecksum(buffer, sizeof(buffer));
  return buffer;
}

TEST(AppendChecksumTest, SumsSignedBytesInSixteenBits) {
  // 0xE9 counts as -23, not 233; -128 is 0xFF80, whose top digit is '?'.
  EXPECT_EQ(WithChecksum("\x02\r\xE9\r\x03"),
            "\x02\r\xE9\r\x03"
            "008\r");
  EXPECT_EQ(WithChecksum("\x80"), "\x80?80\r");
}

class TapExchangeTest : public ::testing::Test {
 protected:
  explicit TapExchangeTest(bool trace = false)
      : tap_(line_, line_.CreateFileA("COM1"), trace, out_) {}

  int Send(const char* pin, std::string text) {
    line_.transcript.clear();
    text_ = text;
    return tap_.SendPage(pin, &text_[0]);
  }

  ScriptedSerialLine line_;
  FakeConsole console_;
  OutputStream out_{console_};
  TapExchange tap_;
  std::string text_;
};

TEST_F(TapExchangeTest, SendsReferenceBlocksAndStaysLoggedOn) {
  line_.Answer({"\r\nID=", kAck, kAck});
  EXPECT_EQ(Send("", "abc"), 0);
  EXPECT_EQ(line_.Written(),
            "\r" + kLogon + "\x02\x0d\x61\x62\x63\x0d\x03\x31\x34\x35\x0d");
  EXPECT_EQ(tap_.state(), 4u);
  for (std::uint32_t size : line_.read_sizes) EXPECT_EQ(size, 256u);

  line_.Answer({kAck});
  EXPECT_EQ(Send("1234567", "Disk C: 95% full"), 0);
  EXPECT_EQ(line_.Written(),
            "\x02"
            "1234567\rDisk C: 95% full\r\x03"
            "639\r");
}

TEST_F(TapExchangeTest, RepliesToPromptLogonAndBlock) {
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
      {{"ID=", kNak, kNak, kAck, kNak, kAck}, 0, 4, 1, 3},
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
    ScriptedSerialLine line;
    FakeConsole console;
    OutputStream out(console);
    TapExchange tap(line, line.CreateFileA("COM1"), false, out);
    line.replies.assign(c.replies.begin(), c.replies.end());
    char text[] = "x";
    EXPECT_EQ(tap.SendPage("1", text), c.result);
    EXPECT_EQ(tap.state(), c.state);
    EXPECT_EQ(line.Count("> \r"), c.crs_sent);
    EXPECT_EQ(line.Count("> " + kLogon), c.logons);
  }
}

TEST_F(TapExchangeTest, NextCallAfterRsSendsTheBlockAfterAFailureWakes) {
  line_.Answer({"ID=", kAck, kRs, kAck});
  EXPECT_EQ(Send("9", "a"), 1);
  EXPECT_EQ(Send("9", "a"), 0);
  EXPECT_EQ(line_.Written(), WithChecksum("\x02"
                                          "9\ra\r\x03"));

  line_.Answer({"?", "ID=", kAck, kAck});
  EXPECT_EQ(Send("9", "a"), 1);
  EXPECT_EQ(Send("9", "a"), 0);
  EXPECT_EQ(line_.Written().substr(0, 6), "\r" + kLogon);
}

TEST_F(TapExchangeTest, BuildsTheBlockFromTheText) {
  struct Case {
    std::string text, sent;
  } cases[] = {
      {std::string(245, 'a'), std::string(245, 'a')},
      {std::string(245, 'a') + std::string(55, 'z'), std::string(245, 'a')},
      {"", ""},
      {"A\tB\xE9"
       "C\x7F",
       "A.B.C."},
  };
  line_.Answer({"ID=", kAck, kAck});
  ASSERT_EQ(Send("1", "logon"), 0);
  for (const Case& c : cases) {
    line_.Answer({kAck});
    ASSERT_EQ(Send("123", c.text), 0);
    EXPECT_EQ(line_.Written(), WithChecksum("\x02"
                                            "123\r" +
                                            c.sent + "\r\x03"));
    // The caller's text holds '.' where it held what cannot be sent.
    EXPECT_EQ(text_.substr(0, c.sent.size()), c.sent);
  }
}

TEST_F(TapExchangeTest, LogOffAnswers) {
  struct Case {
    std::string reply;
    int result;
  } cases[] = {{kLogOffAnswer, 0}, {"\r" + kLogOffAnswer, 1}, {"", 1}};
  for (const Case& c : cases) {
    line_.Answer({"ID=", kAck, kAck, c.reply});
    ASSERT_EQ(Send("1", "m"), 0);
    EXPECT_EQ(tap_.LogOff(), c.result);
    EXPECT_EQ(tap_.state(), 0u);
    EXPECT_EQ(line_.Count("> \x04\r"), 1);
  }
}

class TapTraceTest : public TapExchangeTest {
 protected:
  TapTraceTest() : TapExchangeTest(true) {}
};

TEST_F(TapTraceTest, TracesEveryStep) {
  line_.Answer({"", "X", "", "", "", "", "ID=\xE9", kNak, kAck, kAck});
  ASSERT_EQ(Send("1", "hi"), 0);
  EXPECT_EQ(console_.console,
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
}

TEST_F(TapTraceTest, RefusedLogonEndsWithoutARecord) {
  line_.Answer({"ID=", "?"});
  ASSERT_EQ(Send("1", "hi"), 1);
  const std::string tail = "\nstate: 3\nin:?\n";
  EXPECT_EQ(console_.console.substr(console_.console.size() - tail.size()),
            tail);
}

}  // namespace
}  // namespace sentory
