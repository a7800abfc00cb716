// Random command lines through the whole startup, on the fake services, until
// the run ends or the scan loop first sleeps: no crash, the banner first, and
// either status 1 after the usage, the line of the failing check or the line
// naming a log or skip file that cannot be used, or the scan loop reached.
// The first byte picks failures (bit 0: the log file cannot be opened, bit 1:
// the skip file cannot be mapped, bit 2: nor viewed); the rest are the words,
// each ended by a NUL byte. "skip.txt" exists.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/validate.h"
#include "tests/support/fake_services.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace sentory;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> words(1, "sentory");
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.find('\0', start), text.size());
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());

  FakePlatform fakes;
  fakes.console.refuse_reopen = (data[0] & 1) != 0;
  fakes.files.fail_mapping = (data[0] & 2) != 0;
  fakes.files.fail_view = (data[0] & 4) != 0;
  fakes.files.files["skip.txt"] = "7 Disk\n";
  fakes.clock.stop_after_sleeps = 0;
  RunState state(fakes.platform);
  int status = 0;
  try {
    RunSentory(state, static_cast<int>(argv.size()), argv.data());
  } catch (const ProcessEnded& ended) {
    status = ended.status;
  }
  std::set_new_handler(nullptr);

  const FakeConsole& console = fakes.console;
  const std::string banner = std::string(kBanner) + "\n";
  if (console.console.compare(0, banner.size(), banner) != 0 ||
      (!console.log_path.empty() &&
       console.log.compare(0, banner.size(), banner) != 0)) {
    std::abort();
  }
  const std::string rest =
      (console.console + console.log).substr(banner.size());
  // Whether |rest| ends with a line that is |lead| (or, |exact| false,
  // starts with it) and then |name|, which may itself hold line ends.
  auto ends_naming = [&rest](const std::string& lead, const char* name,
                             bool exact) {
    const std::string tail = std::string(name) + "\n";
    if (rest.size() < tail.size() ||
        rest.compare(rest.size() - tail.size(), tail.size(), tail) != 0) {
      return false;
    }
    const std::string head = rest.substr(0, rest.size() - tail.size());
    const std::string line = head.substr(head.rfind('\n') + 1);
    return exact ? line == lead : line.compare(0, lead.size(), lead) == 0;
  };

  FakeConsole check;
  OutputStream check_out(check);
  SeveritySlots severities;
  PageRateWindow rate;
  bool right;
  if (state.options.HasOption("/?") || argv.size() <= 1) {
    PrintUsage(check_out);
    right = status == 1 && rest == check.console;
  } else if (!ValidateOptions(state.options, check_out, &severities, &rate)) {
    right = status == 1 && rest == check.console &&
            rest.compare(0, 7, "Error: ") == 0 &&
            rest.find('\n') == rest.size() - 1;
  } else if (status == 1) {
    const char* log = state.options.OptionValue("/L");
    const char* skip = state.options.OptionValue("/SK");
    right = (log && ends_naming("Could not open log file ", log, true)) ||
            (skip && ends_naming("Could not ", skip, false));
  } else {
    const char* log = state.options.OptionValue("/L");
    right = status == -1 && console.log_path == (log ? log : "") &&
            rest.find("Scanning event logs (ctrl-c to quit)...\n") !=
                std::string::npos &&
            (!state.options.HasOption("/C") || state.pager != nullptr);
  }
  if (!right) std::abort();
  return 0;
}
