// The modem, its paging terminal and the options that make them misbehave.
#include "tools/tap-terminal/hayes_modem.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/tap-terminal/page_line.h"
#include "tools/tap-terminal/tap_block.h"
#include "tools/tap-terminal/terminal_options.h"

namespace sentory::tapterm {
namespace {

using namespace std::string_literals;

const std::string kOk = "\r\nOK\r\n", kConnect = "\r\nCONNECT 9600\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n", kBusy = "\r\nBUSY\r\n";
const std::string kError = "\r\nERROR\r\n", kLogon = "\x1bPG1\r";
const std::string kAck = "\r\x06\r", kNak = "\r\x15\r", kRs = "\r\x1e\r";
const std::string kBye = "\x1b\x04\r", kLoggedOn = "\r\x06\r\x1b[p\r";
const std::string kTooLong = "AT" + std::string(kMaxCommandLine, 'E') + "\r";
// Dial, wake up and log on; and what a good terminal answers to that.
const std::string kCall = "ATDT1\r\r" + kLogon, kAnswer = kConnect + "ID=";
const std::string kCallAnswer = kAnswer + kLoggedOn, kM = MakeBlock("1", "m");
// Blocks captured from an independent client talking to a terminal.
const std::string kAbc = "\x02\x0d\x61\x62\x63\x0d\x03\x31\x34\x35\x0d"s;
const std::string kDiskFull = "\0021234567\rDisk C: 95% full\r\003639\r";

// A block of |body| ending in |mark|, with its checksum.
std::string Framed(const std::string& body, char mark) {
  std::string block = kStx + body + mark;
  return block + ChecksumText(BlockChecksum(block)) + "\r";
}

// Options split at blanks.
bool Parse(const std::string& line, TerminalOptions* out) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  std::string error;
  bool ok = ParseTerminalOptions(static_cast<int>(argv.size()), argv.data(),
                                 out, &error);
  EXPECT_EQ(ok, error.empty()) << error;
  return ok;
}

// Options, script of (said at "@T" ms, answer "@due") pairs → pages kept.
TEST(HayesModemTest, CallsGoAsTold) {
  const struct {
    std::string options;
    std::vector<std::string> script;
    std::string pages = "";
  } cases[] = {
      // Settings with a D, an escape before AT, no AT, too long, no call.
      {"", {"ATZ\r",    kOk,        "ate0\r",          kOk,
            "at&f\r",   kOk,        "AT&F&D2S7=60\r",  kOk,
            "at\r",     kOk,        "\nATH0\r",        kOk,
            "+++ATH\r", kOk,        "hello\r",         "",
            "\r",       "",         kTooLong,          kError,
            "ATO\r",    kNoCarrier, "AtDt 555-1234\r", kConnect}},
      // Damaged blocks (checksum, short checksum, too short, too long) get NAK.
      {"",
       {kCall, kCallAnswer, kAbc, kAck, "\00242\rx\r\003000\r", kNak,
        "\002\rabc\r\00345\r", kNak, "\002\00305\r", kNak,
        MakeBlock("1", std::string(kMaxBlockBytes, 'x')), kNak, kDiskFull, kAck,
        MakeBlock("9", "a\tb\xe9"), kAck, "\x04\r", kBye},
       "PAGE  abc\nPAGE 1234567 Disk C: 95% full\nPAGE 9 a\\x09b\\xE9\n"},
      // Fields of several blocks join with a blank; one cut by US does not.
      {"",
       {kCall, kCallAnswer, Framed("77\rHello,\r", kEtb), kAck,
        Framed("world\r", kEtx), kAck, Framed("78\rHello, ", kUs), kAck,
        Framed("world\r", kEtx), kAck},
       "PAGE 77 Hello, world\nPAGE 78 Hello, world\n"},
      // "+++" needs a guard time of silence both sides (2100, 6100 fail).
      {"", {"ATDT1\r",     kConnect,  "@1000+++",     "",
            "@1499",       "",        "@1500",        kOk,
            "@1600ATO\r",  kConnect,  "@2000x",       "",
            "@2100+++",    "",        "@5000",        "",
            "@6000+++",    "",        "@6100\r",      "ID=",
            "@9000",       "",        "@10000+++",    "",
            "@10500",      kOk,       "@10550ATD1\r", kError,
            "@10600ath\r", kOk,       "ATO\r",        kNoCarrier,
            "ATDT1\r",     kConnect,  "@1000+++",     "",
            "@1500",       kOk,       "@1600atz\r",   kOk,
            "ATO\r",       kNoCarrier}},
      {"--busy --failing-dials 2",
       {"ATDT1\r", kBusy, "ATDP1\r", kBusy, "ATD1\r", kConnect}},
      {"--no-dialtone --failing-dials 1",
       {"ATDT1\r", "\r\nNO DIALTONE\r\n", "ATD1\r", kConnect}},
      {"--no-carrier --failing-dials 1",
       {"ATDT1\r", kNoCarrier, "ATD1\r", kConnect}},
      // Not an automatic logon, a password too long: NAK too.
      {"--nak-logon 1",
       {"ATDT1\r\r", kAnswer, kLogon, kNak, "\x1bPX1\r", kNak,
        "\x1bPG1abcdefg\r", kNak, "\x1bPG1abc123\r", kLoggedOn}},
      {"--refuse-logon",
       {"ATDT1\r\r", kAnswer, kLogon, kBye + kNoCarrier, "ATO\r", kNoCarrier}},
      {"--nak-block 1 --wrong-reply 1 --wrong-byte 0X5a",
       {kCall, kCallAnswer, kM, "\rZ\r", kM, kNak, kM, kAck},
       "PAGE 1 m\n"},
      // The logon holds after RS; a missing field is answered RS.
      {"--rs-pin 666",
       {kCall, kCallAnswer, MakeBlock("666", "no"), kRs,
        MakeBlock("6666", "yes"), kAck, Framed("12\r", kEtx), kRs},
       "PAGE 6666 yes\n"},
      // The call after a dropped one works.
      {"--drop-after 5 --close-on-drop",
       {kCall, kCallAnswer, kStx + "123"s, "", "4", kNoCarrier + "<close>",
        "ATO\r", kNoCarrier, "ATDT1\r\r", kAnswer}},
      {"--hang-up-after-logoff",
       {kCall, kCallAnswer, "\x04\r", kBye + kNoCarrier, "ATO\r", kNoCarrier}},
      {"--silent-terminal", {"ATDT1\r", kConnect, "\r\r\r" + kLogon, ""}},
      {"--silent", {"ATZ\rATDT1\r\r", ""}},
      {"--connect-delay 3000", {"@100ATDT1\r", kConnect + "@3100"}},
      // ID= comes after the late CRs, and to each CR after it, each call.
      {"--late-id 2",
       {"ATDT1\r\r\r", kConnect, "\r", "ID=", "\r", "ID=", "<dtr>", "",
        "ATDT1\r\r\r", kConnect, "\r", "ID="}},
      {"--id-delay 4000",
       {"ATDT1\r", kConnect, "@100\r", "ID=@4100", "@2100\r", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    TerminalOptions parsed;
    ASSERT_TRUE(Parse("--link x " + c.options, &parsed));
    Outbox outbox;
    HayesModem modem(parsed.modem, parsed.terminal, &outbox);
    for (std::size_t i = 0; i + 1 < c.script.size(); i += 2) {
      std::string said = c.script[i];
      std::size_t n = 0;
      const std::int64_t at = said[0] == '@' ? std::stoll(&said[1], &n) : 0;
      said.erase(0, n > 0 ? n + 1 : 0);
      said == "<dtr>" ? modem.DropDtr() : modem.Feed(said, at);
      modem.Tick(at);
      std::string all;
      for (const LineOutput& out : outbox.line) {
        all += out.close_line ? "<close>" : out.bytes;
        if (out.due_ms != at) all += "@" + std::to_string(out.due_ms);
      }
      outbox.line.clear();
      EXPECT_EQ(all, c.script[i + 1]) << said << " at " << at;
    }
    std::string pages;
    for (const Page& page : outbox.pages) pages += PageLine(page) + "\n";
    EXPECT_EQ(pages, c.pages);
  }
}

// The modem is due a tick only while an escape waits.
TEST(HayesModemTest, DeadlineOnlyForAnEscape) {
  Outbox outbox;
  HayesModem modem(ModemBehaviour(), TerminalBehaviour(), &outbox);
  modem.Feed("ATDT555-1234\r", 0);
  modem.Feed("+++", 1000);
  EXPECT_TRUE(modem.in_data_mode() && modem.dialled() == "555-1234");
  EXPECT_EQ(modem.NextDeadline(), 1500);
  modem.DropDtr();
  EXPECT_TRUE(!modem.on_line() && modem.NextDeadline() == -1);
}

TEST(TerminalOptionsTest, ReadsNumbersAndRefusesBadCommandLines) {
  TerminalOptions options;
  ASSERT_TRUE(Parse("--late-id 010 --verbose --help", &options));
  EXPECT_TRUE(options.verbose && options.help);  // no --link needed then
  EXPECT_EQ(options.terminal.late_id_crs, 10);   // decimal, not octal
  for (const char* bad : {"", "--busy", "--link", "--link x --nak-block",
                          "--link x --nak-block -1", "--link x --guard 5s",
                          "--link x --guard 0x", "--link x --wrong-byte 256",
                          "--link x --busy --no-carrier", "--link x --what"}) {
    TerminalOptions fresh;
    EXPECT_FALSE(Parse(bad, &fresh)) << bad;
  }
}

}  // namespace
}  // namespace sentory::tapterm
