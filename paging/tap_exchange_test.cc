#include "paging/tap_exchange.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

const std::string kAck = "\x06";
const std::string kNak = "\x15";
const std::string kRs = "\x1e";
const std::string kLogon = "\x1bPG1\r";

std::string WithChecksum(std::string block) {
  char buffer[kTapBufferSize] = {};
  block.copy(buffer, kTapBufferSize - 1);
  AppendChecksum(buffer, sizeof(buffer));
  return buffer;
}

TEST(AppendChecksumTest, SumsSignedBytesInSixteenBits) {
  struct Case {
    std::string block, check;
  } cases[] = {
      // The worked example: 0x145.
      {"\x02\rabc\r\x03", "145\r"},
      {"\x02"
       "1234567\rDisk C: 95% full\r\x03",
       "639\r"},
      // 0xE9 counts as -23, not 233.
      {"\x02\r\xE9\r\x03", "008\r"},
      // -128 is 0xFF80 in 16 bits: bits 11 to 8 give '?'.
      {"\x80", "?80\r"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithChecksum(c.block), c.block + c.check);
  }
}

class TapExchangeTest : public ::testing::Test {
 protected:
  explicit TapExchangeTest(bool trace = false)
      : port_(line_.CreateFileA("COM1")), tap_(line_, port_, trace, out_) {}

  int Send(const char* pin, std::string text) {
    text_ = text;
    return tap_.SendPage(pin, &text_[0]);
  }

  ScriptedSerialLine line_;
  FakeConsole console_;
  OutputStream out_{console_};
  SerialHandle port_;
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

  line_.transcript.clear();
  line_.Answer({kAck});
  EXPECT_EQ(Send("1234567", "Disk C: 95% full"), 0);
  EXPECT_EQ(line_.Written(),
            "\x02"
            "1234567\rDisk C: 95% full\r\x03"
            "639\r");
}

TEST_F(TapExchangeTest, LogonReplies) {
  struct Case {
    std::string prompt, reply;
    int result;
    unsigned state;
  } cases[] = {
      {"id=", "\r" + kAck, 0, 4},
      {"ID=", "\n" + kAck, 1, 0},
      {"ID=", "\r", 1, 0},  // a lone CR yields the terminator
      {"ID=", "NO" + kAck, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prompt + c.reply);
    ScriptedSerialLine line;
    FakeConsole console;
    OutputStream out(console);
    TapExchange tap(line, line.CreateFileA("COM1"), false, out);
    line.Answer({c.prompt, c.reply, kAck});
    char text[] = "x";
    EXPECT_EQ(tap.SendPage("1", text), c.result);
    EXPECT_EQ(tap.state(), c.state);
  }
}

TEST_F(TapExchangeTest, FourMissesOfTheIdPromptEndTheCall) {
  line_.Answer({"hello", "?", "ID", "I D="});
  EXPECT_EQ(Send("1", "m"), 1);
  EXPECT_EQ(line_.Written(), "\r\r\r\r");
  EXPECT_EQ(tap_.state(), 0u);

  // Silence is a miss after three empty reads.
  line_.transcript.clear();
  EXPECT_EQ(Send("1", "m"), 1);
  EXPECT_EQ(line_.Written(), "\r\r\r\r");
  EXPECT_EQ(line_.Entries("< ").size(), 12u);

  line_.transcript.clear();
  line_.Answer({"x", "x", "x", "ID=", kAck, kAck});
  EXPECT_EQ(Send("1", "m"), 0);
}

TEST_F(TapExchangeTest, SilenceOrFailedReadAfterTheLogonEndsTheCall) {
  line_.Answer({"ID="});
  EXPECT_EQ(Send("1", "m"), 1);
  EXPECT_EQ(line_.Entries("< ").size(), 4u);
  EXPECT_EQ(tap_.state(), 0u);

  // The next call on the same connection wakes the terminal again.
  line_.transcript.clear();
  line_.Answer({"ID=", kAck});
  line_.AnswerFailure();
  EXPECT_EQ(Send("1", "m"), 1);
  EXPECT_EQ(line_.Written().substr(0, 6), "\r" + kLogon);
  EXPECT_EQ(tap_.state(), 0u);
}

TEST_F(TapExchangeTest, NakRepeatsTheLogonAndTheBlock) {
  line_.Answer({"ID=", kNak, kNak, kAck, kNak, kAck});
  EXPECT_EQ(Send("", "abc"), 0);
  std::string block =
      "\x02\rabc\r\x03"
      "145\r";
  EXPECT_EQ(line_.Written(), "\r" + kLogon + kLogon + kLogon + block + block);
}

TEST_F(TapExchangeTest, RsRefusesThePageButKeepsTheLogon) {
  line_.Answer({"ID=", kAck, "\r" + kRs});
  EXPECT_EQ(Send("9", "a"), 1);
  EXPECT_EQ(tap_.state(), 4u);
  line_.transcript.clear();
  line_.Answer({kAck});
  EXPECT_EQ(Send("9", "a"), 0);
  EXPECT_EQ(line_.Written(), WithChecksum("\x02"
                                          "9\ra\r\x03"));
}

TEST_F(TapExchangeTest, BuildsTheBlockFromTheText) {
  struct Case {
    std::string text, sent;
  } cases[] = {
      {std::string(245, 'a'), std::string(245, 'a')},
      {std::string(245, 'a') + "bcdef" + std::string(50, 'z'),
       std::string(245, 'a')},
      {"", ""},
      {"A\tB\xE9"
       "C\x7F",
       "A.B.C."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    line_.transcript.clear();
    line_.Answer({"ID=", kAck, kAck, "\x1b\x04\r"});
    ASSERT_EQ(Send("123", c.text), 0);
    std::string expected = WithChecksum(
        "\x02"
        "123\r" +
        c.sent + "\r\x03");
    EXPECT_EQ(line_.Written(), "\r" + kLogon + expected);
    EXPECT_LE(expected.size(), 256u);
    ASSERT_EQ(tap_.LogOff(), 0);
    // The caller's text holds '.' where it held what cannot be sent.
    EXPECT_EQ(text_.substr(0, c.sent.size()), c.sent);
  }
}

TEST_F(TapExchangeTest, LogOffAnswers) {
  struct Case {
    std::string reply;
    int result;
  } cases[] = {{"\x1b\x04\r", 0}, {"\r\x1b\x04\r", 1}, {kAck, 1}};
  for (const Case& c : cases) {
    line_.transcript.clear();
    line_.Answer({"ID=", kAck, kAck, c.reply});
    ASSERT_EQ(Send("1", "m"), 0);
    EXPECT_EQ(tap_.LogOff(), c.result);
    EXPECT_EQ(tap_.state(), 0u);
    EXPECT_EQ(line_.Entries("> ").back(), "> \x04\r");
  }
  EXPECT_EQ(tap_.LogOff(), 1);  // silence
}

class TapTraceTest : public TapExchangeTest {
 protected:
  TapTraceTest() : TapExchangeTest(true) {}
};

TEST_F(TapTraceTest, TracesEveryStep) {
  line_.Answer({"", "X", "", "ID=\xE9", kNak, kAck, kAck});
  ASSERT_EQ(Send("1", "hi"), 0);
  EXPECT_EQ(console_.console,
            "\nstate: 1\nout:(13)\n"
            "\nstate: 1\nin:X\n"
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

}  // namespace
}  // namespace sentory
