#include "tools/tap-terminal/hayes_modem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/tap-terminal/tap_block.h"

namespace sentory::tapterm {
namespace {

using namespace std::string_literals;

const std::string kOk = "\r\nOK\r\n";
const std::string kConnect = "\r\nCONNECT 9600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";
const std::string kLogon = "\x1bPG1\r";
const std::string kLogonAnswer = "\r\x06\r\x1b[p\r";
const std::string kAckReply = "\r\x06\r";
const std::string kNakReply = "\r\x15\r";
const std::string kRsReply = "\r\x1e\r";

class HayesModemTest : public ::testing::Test {
 protected:
  void Make(const ModemBehaviour& modem = {},
            const TerminalBehaviour& terminal = {}) {
    modem_.emplace(modem, terminal, &outbox_);
  }

  // Feeds |bytes| at |now_ms| and returns everything queued for the line.
  std::string Say(const std::string& bytes, std::int64_t now_ms = 0) {
    modem_->Feed(bytes, now_ms);
    return Take();
  }

  std::string Take() {
    std::string all;
    for (const LineOutput& out : outbox_.line) {
      all += out.close_line ? "<close>" : out.bytes;
    }
    outbox_.line.clear();
    return all;
  }

  // Dials and logs on.
  void LogOn(const TerminalBehaviour& terminal = {}) {
    Make({}, terminal);
    ASSERT_EQ(Say("ATDT5551234\r"), kConnect);
    ASSERT_EQ(Say("\r"), "ID=");
    ASSERT_EQ(Say(kLogon), kLogonAnswer);
  }

  Outbox outbox_;
  std::optional<HayesModem> modem_;
};

TEST_F(HayesModemTest, AnswersCommandsAsAModemDoes) {
  const std::pair<std::string, std::string> cases[] = {
      {"ATZ\r", kOk},
      {"ate0\r", kOk},
      {"at&f\r", kOk},
      {"AT&F&D2S7=60\r", kOk},  // a D inside settings is no dial
      {"at\r", kOk},
      {"\nATH0\r", kOk},
      {"+++ATH\r", kOk},  // a stray escape before the command
      {"hello\r", ""},    // no AT, no answer
      {"AT" + std::string(kMaxCommandLine, 'E') + "\r", "\r\nERROR\r\n"},
      {"ATO\r", kNoCarrier},  // no call to go back to
      {"AtDt 555-1234\r", kConnect},
  };
  Make();
  for (const auto& [command, answer] : cases) {
    EXPECT_EQ(Say(command), answer) << command;
  }
  EXPECT_TRUE(modem_->in_data_mode());
  EXPECT_EQ(modem_->dialled(), "555-1234");
}

TEST_F(HayesModemTest, FailsDialsAsTold) {
  const std::pair<DialResult, std::string> cases[] = {
      {DialResult::kBusy, "\r\nBUSY\r\n"},
      {DialResult::kNoDialtone, "\r\nNO DIALTONE\r\n"},
      {DialResult::kNoCarrier, kNoCarrier},
  };
  for (const auto& [failure, word] : cases) {
    ModemBehaviour behaviour;
    behaviour.failure = failure;
    behaviour.failing_dials = 2;
    Make(behaviour);
    EXPECT_EQ(Say("ATDT1\r"), word);
    EXPECT_FALSE(modem_->on_line());
    EXPECT_EQ(Say("ATDP1\r"), word);
    EXPECT_EQ(Say("ATD1\r"), kConnect);  // the third dial gets through
  }
}

// Given "+++" with a guard time of silence on both sides, we should answer
// OK and take commands; ath then hangs up and ato goes back on line.
TEST_F(HayesModemTest, EscapesWithGuardTimeAndHangsUp) {
  Make();
  ASSERT_EQ(Say("ATDT1\r", 0), kConnect);
  EXPECT_EQ(Say("+++", 1000), "");
  EXPECT_EQ(modem_->NextDeadline(), 1500);
  modem_->Tick(1499);
  EXPECT_EQ(Take(), "");
  modem_->Tick(1500);
  EXPECT_EQ(Take(), kOk);
  EXPECT_EQ(Say("ATO\r", 1600), kConnect);
  EXPECT_TRUE(modem_->in_data_mode());
  Say("+++", 2200);
  modem_->Tick(2700);
  EXPECT_EQ(Take(), kOk);
  EXPECT_EQ(Say("ath\r", 2800), kOk);
  EXPECT_FALSE(modem_->on_line());
  EXPECT_EQ(Say("\r"), "");  // no call: a CR alone gets nothing
}

TEST_F(HayesModemTest, PlusesWithoutGuardTimeAreData) {
  Make();
  ASSERT_EQ(Say("ATDT1\r", 0), kConnect);
  Say("x", 1000);
  Say("+++", 1100);  // too soon after the last byte
  modem_->Tick(5000);
  EXPECT_EQ(Take(), "");
  Say("+++", 6000);
  Say("a", 6100);  // data too soon after the pluses
  modem_->Tick(9000);
  EXPECT_EQ(Take(), "");
  EXPECT_TRUE(modem_->in_data_mode());
}

// Given a whole call, we should answer each step as the paging protocol does
// and keep exactly the pages whose blocks were good.
TEST_F(HayesModemTest, TakesPagesThroughAWholeCall) {
  LogOn();
  EXPECT_EQ(Say(MakeBlock("", "abc")), kAckReply);
  std::string bad = MakeBlock("42", "x");
  bad[bad.size() - 2] ^= 1;
  EXPECT_EQ(Say(bad), kNakReply);
  EXPECT_EQ(Say(MakeBlock("1", std::string(kMaxBlockBytes, 'x'))), kNakReply);
  EXPECT_EQ(Say(MakeBlock("1234567", "Disk C: 95% full")), kAckReply);
  EXPECT_EQ(Say("\x04\r"), "\x1b\x04\r");
  ASSERT_EQ(outbox_.pages.size(), 2u);
  EXPECT_EQ(outbox_.pages[0].pin, "");
  EXPECT_EQ(outbox_.pages[0].message, "abc");
  EXPECT_EQ(outbox_.pages[1].pin, "1234567");
  EXPECT_EQ(outbox_.pages[1].message, "Disk C: 95% full");
  EXPECT_EQ(modem_->dials(), 1);
}

// Given a transaction whose blocks end with ETB (fields complete) or US (the
// field goes on), we should take it as one page when its ETX block comes.
TEST_F(HayesModemTest, JoinsATransactionSpreadOverBlocks) {
  // Fields of several blocks join with a blank; a field cut by US does not.
  const std::pair<char, std::string> firsts[] = {{kEtb, "77\rHello,\r"},
                                                 {kUs, "77\rHello, "}};
  for (const auto& [mark, body] : firsts) {
    LogOn();
    std::string first = kStx + body + mark;
    first += ChecksumText(BlockChecksum(first)) + "\r";
    EXPECT_EQ(Say(first), kAckReply);
    EXPECT_TRUE(outbox_.pages.empty());
    std::string second = "\x02world\r"s + kEtx;
    second += ChecksumText(BlockChecksum(second)) + "\r";
    EXPECT_EQ(Say(second), kAckReply);
    ASSERT_EQ(outbox_.pages.size(), 1u);
    EXPECT_EQ(outbox_.pages[0].pin, "77");
    EXPECT_EQ(outbox_.pages[0].message, "Hello, world");
    outbox_.pages.clear();
  }
}

TEST_F(HayesModemTest, AnswersRsForAToldPinAndForAMissingField) {
  TerminalBehaviour terminal;
  terminal.rs_pin_set = true;
  terminal.rs_pin = "666";
  LogOn(terminal);
  EXPECT_EQ(Say(MakeBlock("666", "no")), kRsReply);
  // The logon holds after RS: the next block needs none.
  EXPECT_EQ(Say(MakeBlock("6666", "yes")), kAckReply);
  std::string one_field =
      "\x02"
      "12\r\x03"s;
  one_field += ChecksumText(BlockChecksum(one_field)) + "\r";
  EXPECT_EQ(Say(one_field), kRsReply);
  ASSERT_EQ(outbox_.pages.size(), 1u);
  EXPECT_EQ(outbox_.pages[0].pin, "6666");
}

TEST_F(HayesModemTest, MisbehavesAsTold) {
  TerminalBehaviour terminal;
  terminal.nak_blocks = 1;
  terminal.wrong_replies = 1;
  terminal.wrong_byte = 'Z';
  LogOn(terminal);
  const std::string block = MakeBlock("1", "m");
  EXPECT_EQ(Say(block), "\rZ\r");
  EXPECT_EQ(Say(block), kNakReply);
  EXPECT_EQ(Say(block), kAckReply);
  EXPECT_EQ(outbox_.pages.size(), 1u);
}

TEST_F(HayesModemTest, LogonCanBeRefusedOrRepeated) {
  TerminalBehaviour terminal;
  terminal.nak_logons = 1;
  Make({}, terminal);
  Say("ATDT1\r");
  Say("\r");
  EXPECT_EQ(Say(kLogon), kNakReply);
  EXPECT_EQ(Say("\x1bPX1\r"), kNakReply);         // not an automatic logon
  EXPECT_EQ(Say("\x1bPG1abcdefg\r"), kNakReply);  // password too long
  EXPECT_EQ(Say("\x1bPG1abc123\r"), kLogonAnswer);

  terminal = {};
  terminal.refuse_logon = true;
  Make({}, terminal);
  Say("ATDT1\r");
  Say("\r");
  EXPECT_EQ(Say(kLogon), "\x1b\x04\r" + kNoCarrier);
  EXPECT_FALSE(modem_->on_line());
}

TEST_F(HayesModemTest, AnswersLateAsTold) {
  ModemBehaviour modem;
  modem.connect_delay_ms = 3000;
  Make(modem);
  modem_->Feed("ATDT1\r", 100);
  ASSERT_EQ(outbox_.line.size(), 1u);
  EXPECT_EQ(outbox_.line[0].due_ms, 3100);
  Take();

  TerminalBehaviour terminal;
  terminal.late_id_crs = 2;
  Make({}, terminal);
  for (int call = 0; call < 2; ++call) {
    Say("ATDT1\r");
    EXPECT_EQ(Say("\r"), "");
    EXPECT_EQ(Say("\r"), "");
    EXPECT_EQ(Say("\r"), "ID=");
    EXPECT_EQ(Say("\r"), "ID=");  // the caller's repeated CR
    Say("+++ATH\r");              // at time 0: no guard, still data
    modem_->DropDtr();
  }
  terminal = {};
  terminal.id_delay_ms = 4000;
  Make({}, terminal);
  Say("ATDT1\r", 0);
  modem_->Feed("\r", 100);
  ASSERT_EQ(outbox_.line.size(), 1u);
  EXPECT_EQ(outbox_.line[0].due_ms, 4100);
  Take();
  EXPECT_EQ(Say("\r", 2100), "");  // ID= is still on its way
}

TEST_F(HayesModemTest, DropsTheLineAsTold) {
  TerminalBehaviour terminal;
  terminal.drop_after = 5;
  ModemBehaviour modem;
  modem.close_on_hang_up = true;
  Make(modem, terminal);
  Say("ATDT1\r");
  Say("\r");
  Say(kLogon);
  EXPECT_EQ(Say("\x02"
                "123"),
            "");
  EXPECT_EQ(Say("4"), kNoCarrier + "<close>");
  EXPECT_FALSE(modem_->on_line());
  EXPECT_EQ(Say("ATDT1\r\r"), kConnect + "ID=");  // the next call works

  terminal = {};
  terminal.hang_up_after_logoff = true;
  LogOn(terminal);
  EXPECT_EQ(Say("\x04\r"), "\x1b\x04\r" + kNoCarrier);
}

TEST_F(HayesModemTest, StaysSilentAsTold) {
  TerminalBehaviour terminal;
  terminal.silent = true;
  Make({}, terminal);
  EXPECT_EQ(Say("ATDT1\r"), kConnect);
  EXPECT_EQ(Say("\r\r\r" + kLogon), "");
  ModemBehaviour modem;
  modem.silent = true;
  Make(modem);
  EXPECT_EQ(Say("ATZ\rATDT1\r\r"), "");
}

}  // namespace
}  // namespace sentory::tapterm
