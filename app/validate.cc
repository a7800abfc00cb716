#include "app/validate.h"

#include <cstring>
#include <string>

#include "app/int_pair.h"

namespace sentory {
namespace {

constexpr std::size_t kTimeTextLength = 24;

// Walks /<letters>0, /<letters>1, ... up to the first absent key and calls
// |check| with each present key's value (nullptr when it has none). Stops
// and returns false at the first value |check| refuses.
template <typename Check>
bool WalkNumbered(const OptionTable& options, const char* letters,
                  Check check) {
  for (int i = 0;; ++i) {
    std::string key = OptionTable::NumberedKey(letters, i);
    if (!options.HasOption(key)) return true;
    if (!check(options.OptionValue(key))) return false;
  }
}

bool Fail(OutputStream& out, std::initializer_list<std::string_view> line) {
  out.Line(line);
  return false;
}

}  // namespace

std::size_t CommandLineLengthBeforeAlertText(const char* program) {
  std::size_t length = std::strlen(program);
  if (std::strchr(program, ' ') != nullptr) length += 2;
  return length + 2 + kTimeTextLength + 3;
}

std::size_t PortNameLength(const char* com_settings) {
  const char* start = com_settings + std::strspn(com_settings, ",");
  return std::strcspn(start, ",");
}

bool ValidateOptions(const OptionTable& options, OutputStream& out,
                     SeveritySlots* severities, PageRateWindow* page_rate) {
  // 1. Machines.
  bool machines = options.OptionValue("/M0") != nullptr &&
                  WalkNumbered(options, "/M", [](const char* value) {
                    return value != nullptr;
                  });
  if (!machines) {
    return Fail(out, {"Error: Machine(s) must be specified using ", "/M"});
  }

  // 2. Logs.
  if (!options.HasOption("/APP") && !options.HasOption("/SYS") &&
      !options.HasOption("/SEC")) {
    return Fail(out, {"Error: Log options must be specified using ", "/APP",
                      ", ", "/SYS", " or ", "/SEC"});
  }

  // 3. Severities.
  if (const char* letters = options.OptionValue("/S")) {
    ParseSeverities(letters, severities);
  }
  if (severities->slot[0] == 0) {
    return Fail(out,
                {"Error: Severity options must be specified using ", "/S"});
  }

  // 4. Skip file.
  if (options.HasOption("/SK") && options.OptionValue("/SK") == nullptr) {
    return Fail(
        out, {"Error: Event skip file must be specified when using ", "/SK"});
  }

  // 5. Alert method.
  bool paging = options.HasOption("/C");
  if (!paging && !options.HasOption("/R")) {
    return Fail(out, {"Error: Alert method must be specified- ", "/C",
                      " for paging or ", "/R", " for program."});
  }

  // 6. Alert program; its command line must leave room for the alert text.
  if (options.HasOption("/R")) {
    const char* program = options.OptionValue("/R");
    if (program == nullptr || CommandLineLengthBeforeAlertText(program) >
                                  kMaxCommandLineBeforeAlertText) {
      return Fail(out, {"Error: Program to run for alerts must be specified "
                        "using ",
                        "/R"});
    }
  }

  if (paging) {
    // 7. Port settings; the port name must fit the link's buffer.
    const char* settings = options.OptionValue("/C");
    if (settings == nullptr || PortNameLength(settings) > kMaxPortNameLength) {
      return Fail(out,
                  {"Error: COM Port settings must be specified using ", "/C"});
    }

    // 8. Phone number.
    const char* phone = options.OptionValue("/PH");
    if (phone == nullptr || std::strlen(phone) > kMaxPhoneLength) {
      return Fail(
          out, {"Error: Pager phone number must be specified using ", "/PH"});
    }

    // 9. PINs. A PIN goes into the page block as it stands, so only
    // printable ASCII (0x20 to 0x7E) can reach the terminal intact.
    auto pin_ok = [](const char* value) {
      if (value == nullptr || std::strlen(value) > kMaxPinLength) return false;
      for (const char* c = value; *c != '\0'; ++c) {
        unsigned char code = static_cast<unsigned char>(*c);
        if (code < 0x20 || code > 0x7E) return false;
      }
      return true;
    };
    const char* first_pin = options.OptionValue("/P0");
    if (!pin_ok(first_pin) || !WalkNumbered(options, "/P", pin_ok)) {
      return Fail(out, {"Error: Pager PIN(s) must be specified using ", "/P"});
    }

    // 10. Page rate. A negative count or window would keep paging blocked
    // for good, so only positive numbers pass.
    if (const char* rate = options.OptionValue("/MAX")) {
      int limit = 0;
      int window = 0;
      int read = ScanIntPair(rate, '/', &limit, &window);
      if (read >= 1) page_rate->page_limit = limit;
      if (read == 2) page_rate->window_seconds = window;
      if (read != 2 || limit <= 0 || window <= 0) {
        return Fail(out,
                    {"Error: Specify valid maximum page rate using ", "/MAX"});
      }
    }
  }

  // 11 and 12. Blackout periods, each key tested for both in turn.
  bool blackout_missing = false;
  bool hours_ok = WalkNumbered(options, "/B", [&](const char* value) {
    if (value == nullptr) {
      blackout_missing = true;
      return false;
    }
    int start = 0;
    int end = 0;
    return ScanIntPair(value, '-', &start, &end) == 2 && start >= 0 &&
           start <= 23 && end >= 0 && end <= 23;
  });
  if (blackout_missing) {
    return Fail(out, {"Error: Blackout period must be specified using ", "/B"});
  }
  if (!hours_ok) {
    return Fail(out, {"Error: Specify blackout period hours from 0 to 23."});
  }

  // 13. Log file.
  if (options.HasOption("/L") && options.OptionValue("/L") == nullptr) {
    return Fail(out, {"Error: Output log file must be specified using ", "/L"});
  }
  return true;
}

}  // namespace sentory
