#include "tools/tap-terminal/hayes_modem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/tap-terminal/tap_block.h"
#include "tools/tap-terminal/terminal_options.h"

namespace sentory::tapterm {
namespace {

using namespace std::string_literals;

const std::string kOk = "\r\nOK\r\n", kConnect = "\r\nCONNECT 9600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n", kBusy = "\r\nBUSY\r\n";
const std::string kLogon = "\x1bPG1\r", kLogonAnswer = "\r\x06\r\x1b[p\r";
const std::string kAck = "\r\x06\r", kNak = "\r\x15\r", kRs = "\r\x1e\r";
const std::string kLogoffAnswer = "\x1b\x04\r";

// A block of |body| ending in |mark|, with its checksum.
std::string Block(const std::string& body, char mark) {
  std::string block = kStx + body + mark;
  return block + ChecksumText(BlockChecksum(block)) + "\r";
}

struct Step {
  std::string said;     // "<dtr>" drops DTR
  std::string answer;   // all queued, "@due" after bytes due later than |at|
  std::int64_t at = 0;  // when it is said; the modem is ticked then too
};

struct Case {
  std::vector<const char*> options;
  std::vector<Step> steps;
  std::string pages;  // "PIN message" lines
};

// Given a whole call, or a modem or terminal told to misbehave, each step
// should be answered as told and exactly the pages of good blocks kept. An
// "ATO" answered NO CARRIER shows the call has ended.
TEST(HayesModemTest, CallsGoAsTold) {
  const Step call = {"ATDT1\r\r" + kLogon, kConnect + "ID=" + kLogonAnswer};
  const Step ended = {"ATO\r", kNoCarrier};
  std::string bad = MakeBlock("42", "x");
  bad[bad.size() - 2] ^= 1;
  const std::string block = MakeBlock("1", "m");
  const Case cases[] = {
      {{},
       {{"ATZ\r", kOk},
        {"ate0\r", kOk},
        {"at&f\r", kOk},
        {"AT&F&D2S7=60\r", kOk},  // a D inside settings is no dial
        {"at\r", kOk},
        {"\nATH0\r", kOk},
        {"+++ATH\r", kOk},  // a stray escape before the command
        {"hello\r", ""},    // no AT, no answer
        {"\r", ""},
        {"AT" + std::string(kMaxCommandLine, 'E') + "\r", "\r\nERROR\r\n"},
        ended,  // no call to go back to
        {"AtDt 555-1234\r", kConnect}},
       ""},
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
      // "+++" is an escape only with a guard time of silence on both sides;
      // ath and atz hang up, ato goes back on line.
      {{},
       {{"ATDT1\r", kConnect},
        {"+++", "", 1000},
        {"", "", 1499},
        {"", kOk, 1500},
        {"ATO\r", kConnect, 1600},
        {"x", "", 2000},
        {"+++", "", 2100},  // too soon after the last byte
        {"", "", 5000},
        {"+++", "", 6000},
        {"\r", "ID=", 6100},  // data too soon after the pluses
        {"", "", 9000},
        {"+++", "", 10000},
        {"", kOk, 10500},
        {"ath\r", kOk, 10600},
        ended,
        {"ATDT1\r", kConnect},
        {"+++", "", 1000},
        {"", kOk, 1500},
        {"atz\r", kOk, 1600},
        ended},
       ""},
      {{"--busy", "--failing-dials", "2"},
       {{"ATDT1\r", kBusy}, {"ATDP1\r", kBusy}, {"ATD1\r", kConnect}},
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
      {{"--nak-block", "1", "--wrong-reply", "1", "--wrong-byte", "0X5a"},
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
      {{"--connect-delay", "3000"}, {{"ATDT1\r", kConnect + "@3100", 100}}, ""},
      // ID= comes after the late CRs, and to each CR after it, call after
      // call.
      {{"--late-id", "2"},
       {{"ATDT1\r\r\r", kConnect},
        {"\r", "ID="},
        {"\r", "ID="},
        {"<dtr>", ""},
        {"ATDT1\r\r\r", kConnect},
        {"\r", "ID="}},
       ""},
      {{"--id-delay", "4000"},
       {{"ATDT1\r", kConnect}, {"\r", "ID=@4100", 100}, {"\r", "", 2100}},
       ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> options = {"--link", "x"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    std::string trace;
    for (const char* option : options) trace += option + " "s;
    SCOPED_TRACE(trace);
    TerminalOptions parsed;
    std::string error;
    ASSERT_TRUE(ParseTerminalOptions(static_cast<int>(options.size()),
                                     options.data(), &parsed, &error))
        << error;
    Outbox outbox;
    HayesModem modem(parsed.modem, parsed.terminal, &outbox);
    for (const Step& step : c.steps) {
      if (step.said == "<dtr>") modem.DropDtr();
      if (step.said != "<dtr>") modem.Feed(step.said, step.at);
      modem.Tick(step.at);
      std::string all;
      for (const LineOutput& out : outbox.line) {
        all += out.close_line ? "<close>" : out.bytes;
        if (out.due_ms != step.at) all += "@" + std::to_string(out.due_ms);
      }
      outbox.line.clear();
      EXPECT_EQ(all, step.answer) << step.said << " at " << step.at;
    }
    std::string pages;
    for (const Page& page : outbox.pages) {
      pages += page.pin + " " + page.message + "\n";
    }
    EXPECT_EQ(pages, c.pages);
  }
}

// Given a call, the modem should be due a tick only while an escape waits.
TEST(HayesModemTest, DeadlineOnlyForAnEscape) {
  Outbox outbox;
  HayesModem modem(ModemBehaviour(), TerminalBehaviour(), &outbox);
  modem.Feed("ATDT555-1234\r", 0);
  EXPECT_TRUE(modem.in_data_mode());
  EXPECT_EQ(modem.dialled(), "555-1234");
  EXPECT_EQ(modem.NextDeadline(), -1);
  modem.Feed("+++", 1000);
  EXPECT_EQ(modem.NextDeadline(), 1500);
  modem.DropDtr();
  EXPECT_FALSE(modem.on_line());
  EXPECT_EQ(modem.NextDeadline(), -1);
}

}  // namespace
}  // namespace sentory::tapterm
