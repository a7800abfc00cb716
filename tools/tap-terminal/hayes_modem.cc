#include "tools/tap-terminal/hayes_modem.h"

#include <cctype>

namespace sentory::tapterm {

namespace {

constexpr char kBackspace = '\x08';
constexpr char kConnectWord[] = "CONNECT 9600";

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* FailureWord(DialResult result) {
  switch (result) {
    case DialResult::kBusy:
      return "BUSY";
    case DialResult::kNoDialtone:
      return "NO DIALTONE";
    case DialResult::kNoCarrier:
      return "NO CARRIER";
    case DialResult::kConnect:
      break;
  }
  return kConnectWord;
}

}  // namespace

void HayesModem::Result(std::int64_t due_ms, const char* word) {
  if (behaviour_.silent) return;
  outbox_->Send(due_ms, std::string("\r\n") + word + "\r\n");
}

void HayesModem::Feed(std::string_view bytes, std::int64_t now_ms) {
  if (behaviour_.silent) return;
  for (char c : bytes) {
    if (mode_ == Mode::kData) {
      FeedData(c, now_ms);
    } else {
      FeedCommand(c, now_ms);
    }
  }
}

void HayesModem::FeedData(char c, std::int64_t now_ms) {
  // The escape is "+++" with silence before and after it; the pluses still
  // reach the far end, as they do through a real modem.
  if (c == '+' &&
      (pluses_ > 0 || now_ms - last_data_ms_ >= behaviour_.guard_ms)) {
    ++pluses_;
  } else {
    pluses_ = 0;
  }
  escape_due_ms_ = pluses_ == 3 ? now_ms + behaviour_.guard_ms : -1;
  if (pluses_ > 3) pluses_ = 0;
  last_data_ms_ = now_ms;
  if (terminal_.Feed(c, now_ms) == TerminalEvent::kHangUp) {
    HangUp();
    Result(now_ms, "NO CARRIER");
    if (behaviour_.close_on_hang_up) {
      outbox_->line.push_back({now_ms, std::string(), true});
    }
  }
}

void HayesModem::Tick(std::int64_t now_ms) {
  if (mode_ != Mode::kData || escape_due_ms_ < 0 || now_ms < escape_due_ms_) {
    return;
  }
  escape_due_ms_ = -1;
  pluses_ = 0;
  mode_ = Mode::kOnlineCommand;
  line_.clear();
  Result(now_ms, "OK");
}

std::int64_t HayesModem::NextDeadline() const {
  return mode_ == Mode::kData ? escape_due_ms_ : -1;
}

void HayesModem::FeedCommand(char c, std::int64_t now_ms) {
  if (c == '\r') {
    RunCommand(now_ms);
    line_.clear();
    line_overflow_ = false;
  } else if (c == kBackspace) {
    if (!line_.empty()) line_.pop_back();
  } else if (c != '\n') {
    if (line_.size() < kMaxCommandLine) {
      line_ += c;
    } else {
      line_overflow_ = true;
    }
  }
}

void HayesModem::RunCommand(std::int64_t now_ms) {
  // A command line starts at "AT" in either case; what comes before it (a
  // stray "+++" for instance) is ignored, and a line without it gets no
  // answer at all.
  std::size_t at = 0;
  while (at + 1 < line_.size() &&
         !(Upper(line_[at]) == 'A' && Upper(line_[at + 1]) == 'T')) {
    ++at;
  }
  if (at + 1 >= line_.size()) return;
  if (line_overflow_) {
    Result(now_ms, "ERROR");
    return;
  }
  std::string body;
  for (std::size_t i = at + 2; i < line_.size(); ++i) {
    if (line_[i] != ' ') body += Upper(line_[i]);
  }
  bool hang_up = false;
  bool go_on_line = false;
  for (std::size_t i = 0; i < body.size();) {
    const char command = body[i++];
    if (command == 'D') {
      dialled_ = body.substr(i);
      if (!dialled_.empty() && (dialled_[0] == 'T' || dialled_[0] == 'P')) {
        dialled_.erase(0, 1);
      }
      if (mode_ != Mode::kOffline) {
        Result(now_ms, "ERROR");
        return;
      }
      Dial(now_ms);
      return;
    }
    if (command == '&' || command == '\\' || command == '%') {
      if (i < body.size()) ++i;  // the letter of an extended command
    } else if (command == 'S') {
      while (i < body.size() &&
             (IsDigit(body[i]) || body[i] == '=' || body[i] == '?')) {
        ++i;
      }
      continue;
    } else if (command == 'H') {
      hang_up = i >= body.size() || body[i] != '1';
    } else if (command == 'Z') {
      hang_up = true;
    } else if (command == 'O') {
      go_on_line = true;
    }
    while (i < body.size() && IsDigit(body[i])) ++i;
  }
  if (hang_up) {
    HangUp();
  } else if (go_on_line) {
    if (mode_ == Mode::kOffline) {
      Result(now_ms, "NO CARRIER");
    } else {
      mode_ = Mode::kData;
      last_data_ms_ = now_ms;
      Result(now_ms, kConnectWord);
    }
    return;
  }
  Result(now_ms, "OK");
}

void HayesModem::Dial(std::int64_t now_ms) {
  ++dials_;
  const std::int64_t due = now_ms + behaviour_.connect_delay_ms;
  if (behaviour_.failure != DialResult::kConnect &&
      (behaviour_.failing_dials < 0 || dials_ <= behaviour_.failing_dials)) {
    Result(due, FailureWord(behaviour_.failure));
    return;
  }
  mode_ = Mode::kData;
  last_data_ms_ = due;
  pluses_ = 0;
  escape_due_ms_ = -1;
  terminal_.Answer();
  Result(due, kConnectWord);
}

void HayesModem::DropDtr() { HangUp(); }

void HayesModem::HangUp() {
  mode_ = Mode::kOffline;
  pluses_ = 0;
  escape_due_ms_ = -1;
}

}  // namespace sentory::tapterm
