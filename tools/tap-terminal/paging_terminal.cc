#include "tools/tap-terminal/paging_terminal.h"

#include <cctype>

#include "tools/tap-terminal/tap_block.h"

namespace sentory::tapterm {

namespace {

// The logon of automatic entry: service "PG", category "1".
constexpr char kLogonPrefix[] = "PG1";
constexpr std::size_t kLogonPrefixLength = sizeof(kLogonPrefix) - 1;

bool ValidLogon(const std::string& logon) {
  if (logon.compare(0, kLogonPrefixLength, kLogonPrefix) != 0) return false;
  const std::string password = logon.substr(kLogonPrefixLength);
  if (password.size() > kMaxPasswordLength) return false;
  for (char c : password) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

void PagingTerminal::Answer() {
  state_ = State::kWaitCr;
  crs_seen_ = 0;
  logon_.clear();
  block_.clear();
  transaction_.clear();
}

void PagingTerminal::Reply(char c, std::int64_t now_ms) {
  outbox_->Send(now_ms, std::string{kCr, c, kCr});
}

TerminalEvent PagingTerminal::Feed(char c, std::int64_t now_ms) {
  if (behaviour_.silent) return TerminalEvent::kNone;
  switch (state_) {
    case State::kWaitCr:
      if (c == kCr && ++crs_seen_ > behaviour_.late_id_crs) {
        id_due_ms_ = now_ms + behaviour_.id_delay_ms;
        outbox_->Send(id_due_ms_, "ID=");
        state_ = State::kWaitLogon;
      }
      break;
    case State::kWaitLogon:
      if (c == kEsc) {
        logon_.clear();
        state_ = State::kLogon;
      } else if (c == kCr && now_ms >= id_due_ms_) {
        // The caller repeats its CR until it sees ID=.
        outbox_->Send(now_ms, "ID=");
      }
      break;
    case State::kLogon:
      if (c == kCr) return EndLogon(now_ms);
      // A sequence cut short here is too long to be valid anyway.
      if (logon_.size() < kMaxLogonBytes) logon_ += c;
      break;
    case State::kReady:
      if (c == kStx) {
        block_.assign(1, c);
        block_bytes_ = 1;
        state_ = State::kBlock;
        return CountBlockByte();
      } else if (c == kEot) {
        state_ = State::kLogoff;
      } else if (c == kEsc) {
        // A caller may log on again; the terminal takes it as the first.
        logon_.clear();
        state_ = State::kLogon;
      }
      break;
    case State::kBlock:
    case State::kChecksum:
      if (c == kStx && state_ == State::kBlock) {
        // A new block begins before the last one ended: start again.
        block_.clear();
        block_bytes_ = 0;
      }
      // A block cut short here fails its checks and is answered NAK.
      if (block_.size() < kMaxBlockBytes) block_ += c;
      ++block_bytes_;
      if (state_ == State::kBlock && (c == kEtx || c == kEtb || c == kUs)) {
        state_ = State::kChecksum;
      } else if (state_ == State::kChecksum && c == kCr) {
        EndBlock(now_ms);
      }
      return CountBlockByte();
    case State::kLogoff:
      if (c == kCr) {
        outbox_->Send(now_ms, std::string{kEsc, kEot, kCr});
        state_ = State::kDone;
        if (behaviour_.hang_up_after_logoff) return TerminalEvent::kHangUp;
      } else {
        state_ = State::kReady;
      }
      break;
    case State::kDone:
      break;
  }
  return TerminalEvent::kNone;
}

TerminalEvent PagingTerminal::CountBlockByte() {
  if (behaviour_.drop_after < 0 || block_bytes_ < behaviour_.drop_after) {
    return TerminalEvent::kNone;
  }
  behaviour_.drop_after = -1;
  state_ = State::kDone;
  return TerminalEvent::kHangUp;
}

TerminalEvent PagingTerminal::EndLogon(std::int64_t now_ms) {
  if (behaviour_.refuse_logon) {
    outbox_->Send(now_ms, std::string{kEsc, kEot, kCr});
    state_ = State::kDone;
    return TerminalEvent::kHangUp;
  }
  if (behaviour_.nak_logons > 0 || !ValidLogon(logon_)) {
    if (behaviour_.nak_logons > 0) --behaviour_.nak_logons;
    Reply(kNak, now_ms);
    state_ = State::kWaitLogon;
    return TerminalEvent::kNone;
  }
  Reply(kAck, now_ms);
  outbox_->Send(now_ms, std::string{kEsc, '[', 'p', kCr});
  state_ = State::kReady;
  return TerminalEvent::kNone;
}

void PagingTerminal::EndBlock(std::int64_t now_ms) {
  state_ = State::kReady;
  Block block;
  const BlockStatus status = ParseBlock(block_, &block);
  if (status != BlockStatus::kOk) {
    transaction_.clear();
    Reply(kNak, now_ms);
    return;
  }
  if (behaviour_.wrong_replies > 0) {
    --behaviour_.wrong_replies;
    Reply(behaviour_.wrong_byte, now_ms);
    return;
  }
  if (behaviour_.nak_blocks > 0) {
    --behaviour_.nak_blocks;
    Reply(kNak, now_ms);
    return;
  }
  transaction_ += block.body;
  if (block.end != BlockEnd::kEtx) {
    Reply(kAck, now_ms);
    return;
  }
  const std::size_t pin_end = transaction_.find(kCr);
  const bool fields_ended = !transaction_.empty() && transaction_.back() == kCr;
  if (pin_end == std::string::npos || pin_end + 1 == transaction_.size() ||
      !fields_ended) {
    // A transaction needs a PIN field and a message field, each ended by CR.
    transaction_.clear();
    Reply(kRs, now_ms);
    return;
  }
  if (behaviour_.rs_pin_set &&
      transaction_.compare(0, pin_end, behaviour_.rs_pin) == 0) {
    transaction_.clear();
    Reply(kRs, now_ms);
    return;
  }
  AcceptTransaction();
  Reply(kAck, now_ms);
}

void PagingTerminal::AcceptTransaction() {
  const std::size_t pin_end = transaction_.find(kCr);
  Page page;
  page.pin = transaction_.substr(0, pin_end);
  // Further fields, when the message spans several, are joined by a blank.
  std::string rest =
      transaction_.substr(pin_end + 1, transaction_.size() - pin_end - 2);
  for (char& c : rest) {
    if (c == kCr) c = ' ';
  }
  page.message = rest;
  outbox_->pages.push_back(page);
  transaction_.clear();
}

}  // namespace sentory::tapterm
