#include "tools/tap-terminal/hayes_modem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/tap-terminal/tap_block.h"
#include "tools/tap-terminal/terminal_options.h"

namespace sentory::tapterm {
namespace {

using namespace std::string_literals;

const std::string kOk = "\r\nOK\r\n";
const std::string kConnect = "\r\nCONNECT 9600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";
const std::string kLogon = "\x1bPG1\r";
const std::string kLogonAnswer = "\r\x06\r\x1b[p\r";
const std::string kAck = "\r\x06\r";
const std::string kNak = "\r\x15\r";
const std::string kRs = "\r\x1e\r";
const std::string kLogoffAnswer = "\x1b\x04\r";

// A block of |body| ending in |mark|, with its checksum.
std::string Block(const std::string& body, char mark) {
  std::string block = kStx + body + mark;
  return block + ChecksumText(BlockChecksum(block)) + "\r";
}

class HayesModemTest : public ::testing::Test {
 protected:
  // Makes a modem and terminal behaving as tap-terminal's |options| say.
  void Make(std::vector<const char*> options = {}) {
    options.insert(options.begin(), {"--link", "x"});
    TerminalOptions parsed;
    std::string error;
    ASSERT_TRUE(ParseTerminalOptions(static_cast<int>(options.size()),
                                     options.data(), &parsed, &error))
        << error;
    outbox_ = {};
    modem_.emplace(parsed.modem, parsed.terminal, &outbox_);
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

// Given a whole call, or a modem or terminal told to misbehave, each step
// should be answered as told and exactly the pages of good blocks kept. An
// "ATO" answered NO CARRIER shows the call has ended.
TEST_F(HayesModemTest, CallsGoAsTold) {
  using Steps = std::vector<std::pair<std::string, std::string>>;
  const std::pair<std::string, std::string> call = {
      "ATDT1\r\r" + kLogon, kConnect + "ID=" + kLogonAnswer};
  const std::pair<std::string, std::string> ended = {"ATO\r", kNoCarrier};
  std::string bad = MakeBlock("42", "x");
  bad[bad.size() - 2] ^= 1;
  const std::string block = MakeBlock("1", "m");
  struct Case {
    std::vector<const char*> options;
    Steps steps;        // bytes said, answer
    std::string pages;  // "PIN message" lines
  };
  const Case cases[] = {
      {{},
       {call,
        {MakeBlock("", "abc"), kAck},
        {bad, kNak},
        {MakeBlock("1", std::string(kMaxBlockBytes, 'x')), kNak},
        {MakeBlock("1234567", "Disk C: 95% full"), kAck},
        {"\x04\r", kLogoffAnswer}},
       " abc\n1234567 Disk C: 95% full\n"},
      // Fields of several blocks join with a blank; a field cut by US does
      // not.
      {{},
       {call,
        {Block("77\rHello,\r", kEtb), kAck},
        {Block("world\r", kEtx), kAck},
        {Block("78\rHello, ", kUs), kAck},
        {Block("world\r", kEtx), kAck}},
       "77 Hello, world\n78 Hello, world\n"},
      {{"--busy", "--failing-dials", "2"},
       {{"ATDT1\r", "\r\nBUSY\r\n"},
        {"ATDP1\r", "\r\nBUSY\r\n"},
        {"ATD1\r", kConnect}},
       ""},
      {{"--no-dialtone", "--failing-dials", "1"},
       {{"ATDT1\r", "\r\nNO DIALTONE\r\n"}, {"ATD1\r", kConnect}},
       ""},
      {{"--no-carrier", "--failing-dials", "1"},
       {{"ATDT1\r", kNoCarrier}, {"ATD1\r", kConnect}},
       ""},
      {{"--nak-logon", "1"},
       {{"ATDT1\r\r", kConnect + "ID="},
        {kLogon, kNak},
        {"\x1bPX1\r", kNak},         // not an automatic logon
        {"\x1bPG1abcdefg\r", kNak},  // password too long
        {"\x1bPG1abc123\r", kLogonAnswer}},
       ""},
      {{"--refuse-logon"},
       {{"ATDT1\r\r", kConnect + "ID="},
        {kLogon, kLogoffAnswer + kNoCarrier},
        ended},
       ""},
      {{"--nak-block", "1", "--wrong-reply", "1", "--wrong-byte", "0x5a"},
       {call, {block, "\rZ\r"}, {block, kNak}, {block, kAck}},
       "1 m\n"},
      // The logon holds after RS: the next block needs none.
      {{"--rs-pin", "666"},
       {call,
        {MakeBlock("666", "no"), kRs},
        {MakeBlock("6666", "yes"), kAck},
        {Block("12\r", kEtx), kRs}},  // a missing field
       "6666 yes\n"},
      {{"--drop-after", "5", "--close-on-drop"},
       {call,
        {kStx + "123"s, ""},
        {"4", kNoCarrier + "<close>"},
        ended,
        {"ATDT1\r\r", kConnect + "ID="}},  // the next call works
       ""},
      {{"--hang-up-after-logoff"},
       {call, {"\x04\r", kLogoffAnswer + kNoCarrier}, ended},
       ""},
      {{"--silent-terminal"},
       {{"ATDT1\r", kConnect}, {"\r\r\r" + kLogon, ""}},
       ""},
      {{"--silent"}, {{"ATZ\rATDT1\r\r", ""}}, ""},
  };
  for (const Case& c : cases) {
    std::string options;
    for (const char* option : c.options) options += option + " "s;
    SCOPED_TRACE(options);
    Make(c.options);
    for (const auto& [said, answer] : c.steps) {
      EXPECT_EQ(Say(said), answer) << said;
    }
    std::string pages;
    for (const Page& page : outbox_.pages) {
      pages += page.pin + " " + page.message + "\n";
    }
    EXPECT_EQ(pages, c.pages);
  }
}

// Given "+++" with a guard time of silence on both sides, we should answer
// OK and take commands; ath then hangs up and ato goes back on line. Pluses
// without the guard time are data.
TEST_F(HayesModemTest, EscapesOnlyWithGuardTime) {
  Make();
  ASSERT_EQ(Say("ATDT1\r", 0), kConnect);
  EXPECT_EQ(Say("+++", 1000), "");
  EXPECT_EQ(modem_->NextDeadline(), 1500);
  modem_->Tick(1499);
  EXPECT_EQ(Take(), "");
  modem_->Tick(1500);
  EXPECT_EQ(Take(), kOk);
  EXPECT_EQ(Say("ATO\r", 1600), kConnect);
  Say("x", 2000);
  Say("+++", 2100);  // too soon after the last byte
  modem_->Tick(5000);
  EXPECT_EQ(Take(), "");
  Say("+++", 6000);
  Say("a", 6100);  // data too soon after the pluses
  modem_->Tick(9000);
  EXPECT_EQ(Take(), "");
  EXPECT_TRUE(modem_->in_data_mode());
  Say("+++", 10000);
  modem_->Tick(10500);
  EXPECT_EQ(Take(), kOk);
  EXPECT_EQ(Say("ath\r", 10600), kOk);
  EXPECT_FALSE(modem_->on_line());
  EXPECT_EQ(Say("\r"), "");  // no call: a CR alone gets nothing
}

TEST_F(HayesModemTest, AnswersLateAsTold) {
  Make({"--connect-delay", "3000"});
  modem_->Feed("ATDT1\r", 100);
  ASSERT_EQ(outbox_.line.size(), 1u);
  EXPECT_EQ(outbox_.line[0].due_ms, 3100);

  Make({"--late-id", "2"});
  for (int call = 0; call < 2; ++call) {
    Say("ATDT1\r");
    EXPECT_EQ(Say("\r"), "");
    EXPECT_EQ(Say("\r"), "");
    EXPECT_EQ(Say("\r"), "ID=");
    EXPECT_EQ(Say("\r"), "ID=");  // the caller's repeated CR
    Say("+++ATH\r");              // at time 0: no guard, still data
    modem_->DropDtr();
  }
  Make({"--id-delay", "4000"});
  Say("ATDT1\r", 0);
  modem_->Feed("\r", 100);
  ASSERT_EQ(outbox_.line.size(), 1u);
  EXPECT_EQ(outbox_.line[0].due_ms, 4100);
  Take();
  EXPECT_EQ(Say("\r", 2100), "");  // ID= is still on its way
}

}  // namespace
}  // namespace sentory::tapterm
