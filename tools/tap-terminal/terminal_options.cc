#include "tools/tap-terminal/terminal_options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace sentory::tapterm {

namespace {

// A count or a time in milliseconds: decimal, or hexadecimal after "0x".
bool ParseNumber(const char* text, long* out) {
  if (text == nullptr) return false;
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text += 2;
    base = 16;
  }
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, base);
  // strtol would also take blanks and a sign before the digits.
  if (!std::isxdigit(static_cast<unsigned char>(*text)) || errno != 0 ||
      *end != '\0' || value > INT_MAX) {
    return false;
  }
  *out = value;
  return true;
}

}  // namespace

const char* TerminalUsage() {
  return "Usage: tap-terminal --link PATH [options]\n"
         "\n"
         "Opens a pseudo-terminal, links PATH to it (replacing a link there)\n"
         "and plays a Hayes modem (echo off, verbose results) with an\n"
         "alphanumeric paging terminal behind it. Prints one line on standard\n"
         "output for each page it accepts:\n"
         "  PAGE <pin> <message>\n"
         "(control characters and bytes above 0x7e as \\xHH). Ends on SIGINT, "
         "SIGTERM\n"
         "or SIGHUP, removing the link.\n"
         "\n"
         "Options that make it misbehave on purpose:\n"
         "  --busy               dials are answered BUSY\n"
         "  --no-dialtone        dials are answered NO DIALTONE\n"
         "  --no-carrier         dials are answered NO CARRIER\n"
         "  --failing-dials N    only the first N dials fail (default: all)\n"
         "  --connect-delay MS   time from a dial to its result (default 0)\n"
         "  --guard MS           silence needed before and after +++ (default "
         "500)\n"
         "  --silent             the modem never answers anything\n"
         "  --silent-terminal    calls connect, the terminal never answers\n"
         "  --late-id N          each call ignores its first N CRs before ID=\n"
         "  --id-delay MS        ID= is sent MS after its CR\n"
         "  --nak-logon N        the first N logons are answered NAK\n"
         "  --refuse-logon       logons are answered ESC EOT and the call "
         "drops\n"
         "  --nak-block N        the first N good blocks are answered NAK\n"
         "  --rs-pin PIN         blocks for PIN are answered RS\n"
         "  --wrong-reply N      the first N good blocks are answered with a\n"
         "                       wrong reply byte (not accepted)\n"
         "  --wrong-byte CODE    that byte (default 0x3f, '?')\n"
         "  --drop-after N       the call drops (NO CARRIER) once N bytes of "
         "a\n"
         "                       block have arrived; once\n"
         "  --close-on-drop      a dropped call also closes the "
         "pseudo-terminal\n"
         "                       and links a new one\n"
         "  --hang-up-after-logoff  the call drops after the logoff answer\n"
         "Other options:\n"
         "  --verbose            trace the bytes of the line on standard "
         "error\n"
         "  --help               this text\n"
         "Numbers are decimal, or hexadecimal after 0x.\n";
}

bool ParseTerminalOptions(int argc, const char* const* argv,
                          TerminalOptions* out, std::string* error) {
  struct Flag {
    const char* name;
    bool* target;
  };
  struct Count {
    const char* name;
    long* target;
  };
  long failing_dials = out->modem.failing_dials;
  long connect_delay = static_cast<long>(out->modem.connect_delay_ms);
  long guard = static_cast<long>(out->modem.guard_ms);
  long late_id = out->terminal.late_id_crs;
  long id_delay = static_cast<long>(out->terminal.id_delay_ms);
  long nak_logons = out->terminal.nak_logons;
  long nak_blocks = out->terminal.nak_blocks;
  long wrong_replies = out->terminal.wrong_replies;
  long wrong_byte = static_cast<unsigned char>(out->terminal.wrong_byte);
  long drop_after = out->terminal.drop_after;
  bool busy = false, no_dialtone = false, no_carrier = false;
  const Flag flags[] = {
      {"--busy", &busy},
      {"--no-dialtone", &no_dialtone},
      {"--no-carrier", &no_carrier},
      {"--silent", &out->modem.silent},
      {"--silent-terminal", &out->terminal.silent},
      {"--refuse-logon", &out->terminal.refuse_logon},
      {"--close-on-drop", &out->modem.close_on_hang_up},
      {"--hang-up-after-logoff", &out->terminal.hang_up_after_logoff},
      {"--verbose", &out->verbose},
      {"--help", &out->help},
  };
  const Count counts[] = {
      {"--failing-dials", &failing_dials},
      {"--connect-delay", &connect_delay},
      {"--guard", &guard},
      {"--late-id", &late_id},
      {"--id-delay", &id_delay},
      {"--nak-logon", &nak_logons},
      {"--nak-block", &nak_blocks},
      {"--wrong-reply", &wrong_replies},
      {"--wrong-byte", &wrong_byte},
      {"--drop-after", &drop_after},
  };
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool known = false;
    for (const Flag& flag : flags) {
      if (std::strcmp(arg, flag.name) == 0) {
        *flag.target = true;
        known = true;
      }
    }
    for (const Count& count : counts) {
      if (std::strcmp(arg, count.name) != 0) continue;
      if (!ParseNumber(value, count.target)) {
        *error = std::string(arg) + " needs a number";
        return false;
      }
      known = true;
      ++i;
    }
    if (std::strcmp(arg, "--link") == 0 || std::strcmp(arg, "--rs-pin") == 0) {
      if (value == nullptr) {
        *error = std::string(arg) + " needs a value";
        return false;
      }
      if (arg[2] == 'l') {
        out->link = value;
      } else {
        out->terminal.rs_pin = value;
        out->terminal.rs_pin_set = true;
      }
      known = true;
      ++i;
    }
    if (!known) {
      *error = std::string("unknown option ") + arg;
      return false;
    }
  }
  if (busy + no_dialtone + no_carrier > 1) {
    *error = "--busy, --no-dialtone and --no-carrier exclude each other";
    return false;
  }
  if (wrong_byte > 0xff) {
    *error = "--wrong-byte must be below 256";
    return false;
  }
  out->modem.failure = busy          ? DialResult::kBusy
                       : no_dialtone ? DialResult::kNoDialtone
                       : no_carrier  ? DialResult::kNoCarrier
                                     : DialResult::kConnect;
  out->modem.failing_dials = static_cast<int>(failing_dials);
  out->modem.connect_delay_ms = connect_delay;
  out->modem.guard_ms = guard;
  out->terminal.late_id_crs = static_cast<int>(late_id);
  out->terminal.id_delay_ms = id_delay;
  out->terminal.nak_logons = static_cast<int>(nak_logons);
  out->terminal.nak_blocks = static_cast<int>(nak_blocks);
  out->terminal.wrong_replies = static_cast<int>(wrong_replies);
  out->terminal.wrong_byte = static_cast<char>(wrong_byte);
  out->terminal.drop_after = drop_after;
  if (out->link.empty() && !out->help) {
    *error = "--link PATH is required";
    return false;
  }
  return true;
}

}  // namespace sentory::tapterm
