#include "paging/paging_dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

const std::string kAck = "\x06";
const std::string kRs = "\x1e";
const std::string kLogOffAnswer = "\x1b\x04\r";

class PagingDispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { Options({"/P0", "111"}); }

  void Options(std::vector<const char*> extra) {
    options_ = OptionTable();
    words_ = {"sentory", "/C", "COM1,9600", "/PH", "5551234"};
    words_.insert(words_.end(), extra.begin(), extra.end());
    options_.ParseCommandLine(static_cast<int>(words_.size()), words_.data());
  }

  // The modem answers the dial and the terminal the logon.
  void ScriptConnect() { line_.Answer({"OK", "CONNECT 9600", "ID=", kAck}); }
  // The terminal answers the logoff and the modem the hang-up.
  void ScriptHangUp() { line_.Answer({kLogOffAnswer, "OK", "OK"}); }

  int Send(const char* text = "alert") {
    text_ = text;
    return dispatcher_.SendPages(0, &text_[0]);
  }

  std::vector<const char*> words_;
  OptionTable options_;
  FakeConsole console_;
  OutputStream out_{console_};
  FakeClock clock_;
  ScriptedSerialLine line_;
  ModemLink link_{line_, clock_, "COM1,9600"};
  PageRateWindow rate_;
  PagingDispatcher dispatcher_{options_, out_, clock_, link_, rate_};
  std::string text_;
};

TEST_F(PagingDispatcherTest, PagesEveryPinOnOneConnection) {
  Options({"/P0", "111", "/P1", "222", "/P3", "ignored"});
  ScriptConnect();
  line_.Answer({kAck, kAck});
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(console_.console, " Paged: 111 222\n");
  EXPECT_EQ(rate_.pages_in_window, 2u);
  EXPECT_EQ(link_.IsConnected(), 1);

  // The line stays up: the next alert goes out as bare blocks.
  console_.console.clear();
  line_.Answer({kAck, kAck});
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(line_.opens, 1);
  EXPECT_EQ(rate_.pages_in_window, 4u);

  ScriptHangUp();
  EXPECT_EQ(dispatcher_.SendPages(1, nullptr), 0);
  EXPECT_EQ(link_.IsConnected(), 0);
  EXPECT_EQ(line_.Entries("> \x04\r").size(), 1u);
}

TEST_F(PagingDispatcherTest, FailedPinsAreMarked) {
  Options({"/P0", "111", "/P1", "222"});
  ScriptConnect();
  line_.Answer({kAck, kRs});
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(console_.console, " Paged: 111 222(error)\n");
  EXPECT_EQ(rate_.pages_in_window, 1u);

  // Every PIN failed: the line is hung up and the caller must retry.
  console_.console.clear();
  line_.Answer({kRs, kRs});
  ScriptHangUp();
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console,
            " Paged: 111(error) 222(error) No pages sent. Retrying...\n");
  EXPECT_EQ(link_.IsConnected(), 0);
  EXPECT_EQ(rate_.pages_in_window, 1u);
}

TEST_F(PagingDispatcherTest, ConnectErrorIsReportedOncePerRow) {
  const std::string error = " Error connecting to 5551234 on COM1,9600\n";
  line_.open_fails = true;
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console, error);
  ASSERT_EQ(clock_.beeps.size(), 1u);
  EXPECT_EQ(clock_.beeps[0], std::make_pair(500u, 250u));

  line_.open_fails = false;
  ScriptConnect();
  line_.Answer({kAck});
  ScriptHangUp();
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(dispatcher_.SendPages(1, nullptr), 0);

  console_.console.clear();
  line_.open_fails = true;
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console, error);
  EXPECT_EQ(clock_.beeps.size(), 2u);
}

TEST_F(PagingDispatcherTest, HangUpModeWhenNotConnectedAndUnknownModes) {
  EXPECT_EQ(dispatcher_.SendPages(1, nullptr), 0);
  char text[] = "x";
  EXPECT_EQ(dispatcher_.SendPages(2, text), 1);
  EXPECT_TRUE(line_.transcript.empty());
  EXPECT_TRUE(console_.console.empty());
}

TEST_F(PagingDispatcherTest, FullWindowHangsUpAndWaitsForTheNext) {
  clock_.now = 1000;
  ScriptConnect();
  line_.Answer({kAck, kAck, kAck, kAck, kAck});
  for (int page = 0; page < 5; ++page) ASSERT_EQ(Send(), 0);
  EXPECT_TRUE(clock_.sleeps.empty());  // the first call never waits
  EXPECT_EQ(rate_.window_start, 1000u);

  ScriptHangUp();
  ScriptConnect();
  line_.Answer({kAck});
  ASSERT_EQ(Send(), 0);
  // Hung up once, then 3000 ms steps until more than 60 s have passed.
  EXPECT_EQ(line_.Entries("> +++").size(), 1u);
  EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>(21, 3000));
  EXPECT_EQ(rate_.window_start, 1063u);
  EXPECT_EQ(rate_.pages_in_window, 1u);
}

TEST_F(PagingDispatcherTest, WindowEdges) {
  struct Case {
    std::int64_t now;
    std::uint32_t pages_after;
  } cases[] = {{1059, 4}, {1060, 4}, {1061, 1}, {999, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.now);
    rate_.window_start = 1000;
    rate_.pages_in_window = 3;
    clock_.now = c.now;
    if (!link_.IsConnected()) ScriptConnect();
    line_.Answer({kAck});
    ASSERT_EQ(Send(), 0);
    EXPECT_EQ(rate_.pages_in_window, c.pages_after);
  }
}

TEST_F(PagingDispatcherTest, OneCallMayPassTheLimit) {
  Options({"/P0", "1", "/P1", "2", "/P2", "3"});
  clock_.now = 1000;
  rate_.window_start = 990;
  rate_.pages_in_window = 4;
  ScriptConnect();
  line_.Answer({kAck, kAck, kAck});
  ASSERT_EQ(Send(), 0);
  EXPECT_EQ(rate_.pages_in_window, 7u);
  EXPECT_TRUE(clock_.sleeps.empty());

  ScriptHangUp();
  ScriptConnect();
  line_.Answer({kAck, kAck, kAck});
  ASSERT_EQ(Send(), 0);
  EXPECT_FALSE(clock_.sleeps.empty());
}

TEST_F(PagingDispatcherTest, TextChangedForLaterPinsAndTraceBetweenPieces) {
  Options({"/P0", "111", "/D"});
  ScriptConnect();
  line_.Answer({kRs});
  ScriptHangUp();
  EXPECT_EQ(Send("a\tb"), 1);
  EXPECT_EQ(text_, "a.b");
  std::string out = console_.console;
  EXPECT_EQ(out.substr(0, 30), " Paged: 111\nstate: 1\nout:(13)\n");
  EXPECT_NE(out.find("\nstate: 5\nin:(30)\n(error)\nstate: 7\nout:(4)(13)\n"),
            std::string::npos)
      << out;
  const std::string tail = "\n No pages sent. Retrying...\n";
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

}  // namespace
}  // namespace sentory
