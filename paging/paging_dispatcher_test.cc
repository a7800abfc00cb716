#include "paging/paging_dispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {
namespace {

const std::string kAck = "\x06", kRs = "\x1e";

class PagingDispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { Options({"/P0", "111", "/P1", "222"}); }
  void Options(std::vector<const char*> pins) {
    options_ = OptionTable();
    words_ = {"sentory", "/C", "COM1,9600", "/PH", "5551234"};
    words_.insert(words_.end(), pins.begin(), pins.end());
    options_.ParseCommandLine(static_cast<int>(words_.size()), words_.data());
  }

  // The dial and the logon succeed, then the blocks get |replies|.
  void ScriptCall(std::initializer_list<std::string> replies) {
    line_.Answer({"OK", "CONNECT 9600", "ID=", kAck});
    line_.Answer(replies);
  }
  // The logoff and the hang-up are answered.
  void ScriptHangUp() { line_.Answer({"\x1b\x04\r", "OK", "OK"}); }

  int Send() {
    console_.console.clear();
    text_ = "alert";
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

TEST_F(PagingDispatcherTest, PagesEveryPinAndMarksTheFailedOnes) {
  ScriptCall({kAck, kAck});
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(console_.console, " Paged: 111 222\n");

  // The line stayed up; one PIN of two failing still counts as paged.
  line_.Answer({kAck, kRs});
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(console_.console, " Paged: 111 222(error)\n");
  EXPECT_EQ(line_.Count("open"), 1);
  EXPECT_EQ(rate_.pages_in_window, 3u);

  // Every PIN failed: the line is hung up and the caller must retry.
  line_.Answer({kRs, kRs});
  ScriptHangUp();
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console,
            " Paged: 111(error) 222(error) No pages sent. Retrying...\n");
  EXPECT_EQ(link_.IsConnected(), 0);
  EXPECT_EQ(line_.Count("> \x04\r"), 1);
  EXPECT_EQ(rate_.pages_in_window, 3u);
}

// Given failed dials, the error should be written and beeped once per row
// of them; hanging up needs no line when there is none, and an unknown mode
// fails.
TEST_F(PagingDispatcherTest, ConnectErrorIsWrittenOncePerRow) {
  EXPECT_EQ(dispatcher_.SendPages(1, nullptr), 0);
  EXPECT_EQ(dispatcher_.SendPages(2, nullptr), 1);
  EXPECT_TRUE(line_.transcript.empty());
  EXPECT_TRUE(console_.console.empty());
  const std::string error = " Error connecting to 5551234 on COM1,9600\n";
  line_.open_fails = true;
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console, error);
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console, "");
  EXPECT_EQ(clock_.beeps, (decltype(clock_.beeps){{500, 250}}));

  line_.open_fails = false;
  ScriptCall({kAck, kAck});
  ScriptHangUp();
  EXPECT_EQ(Send(), 0);
  EXPECT_EQ(dispatcher_.SendPages(1, nullptr), 0);
  EXPECT_EQ(link_.IsConnected(), 0);

  line_.open_fails = true;
  EXPECT_EQ(Send(), 1);
  EXPECT_EQ(console_.console, error);
  EXPECT_EQ(clock_.beeps.size(), 2u);
}

TEST_F(PagingDispatcherTest, FullWindowHangsUpAndWaitsForTheNext) {
  Options({"/P0", "111"});
  clock_.now = 1000;
  ScriptCall({kAck, kAck, kAck, kAck, kAck});
  for (int page = 0; page < 5; ++page) ASSERT_EQ(Send(), 0);
  EXPECT_TRUE(clock_.sleeps.empty());  // the first call never waits
  EXPECT_EQ(rate_.window_start, 1000u);

  ScriptHangUp();
  ScriptCall({kAck});
  ASSERT_EQ(Send(), 0);
  // Hung up once, then 3000 ms steps until more than 60 s have passed.
  EXPECT_EQ(line_.Count("> +++"), 1);
  EXPECT_EQ(clock_.sleeps, std::vector<std::uint32_t>(21, 3000));
  EXPECT_EQ(rate_.window_start, 1063u);
  EXPECT_EQ(rate_.pages_in_window, 1u);
}

TEST_F(PagingDispatcherTest, WindowEdgesAndOneCallPassingTheLimit) {
  struct Case {
    std::int64_t now;
    std::uint32_t pages_after;
  } cases[] = {{1060, 6}, {1061, 2}, {999, 2}, {1000, 6}};
  ScriptCall({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.now);
    rate_.window_start = 1000;
    rate_.pages_in_window = 4;  // one call may pass the limit
    clock_.now = c.now;
    line_.Answer({kAck, kAck});
    ASSERT_EQ(Send(), 0);
    EXPECT_EQ(rate_.pages_in_window, c.pages_after);
  }
  EXPECT_TRUE(clock_.sleeps.empty());
  ScriptHangUp();
  ScriptCall({kAck, kAck});
  ASSERT_EQ(Send(), 0);
  EXPECT_FALSE(clock_.sleeps.empty());
}

TEST_F(PagingDispatcherTest, TraceBetweenPieces) {
  Options({"/P0", "111", "/D"});
  ScriptCall({kRs});
  ScriptHangUp();
  EXPECT_EQ(Send(), 1);
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
