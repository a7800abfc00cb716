// Random command lines through the whole startup, run against the tests'
// fake services until the run ends or the scan loop first sleeps: never a
// crash, the output starts with the banner, and the run either ends with
// status 1 after one of the fixed failure texts or reaches the scan loop
// with options that pass the checks.
//
// The first byte picks failures of the fakes (bit 0: the log file cannot be
// opened, bit 1: the skip file cannot be mapped, bit 2: nor viewed); the
// rest are the words, each ended by a NUL byte. "skip.txt" exists.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/validate.h"
#include "tests/support/fake_services.h"

namespace sentory {
namespace {

using namespace std::string_literals;

std::string UsageText() {
  FakeConsole console;
  OutputStream out(console);
  PrintUsage(out);
  return console.console;
}

// Whether |rest|, the output after the banner, is right for a run that
// passed the option checks and ended with |status|.
bool StartedRight(const RunState& state, const FakeConsole& console,
                  const std::string& rest, int status) {
  const char* log = state.options.OptionValue("/L");
  std::string start;
  if (log != nullptr) {
    start = "Output written to "s + log + ". (ctrl-c to quit)...\n";
    if (status == 1 && rest == start + "Could not open log file " + log + "\n")
      return true;
    start += std::string(kBanner) + "\n";
  }
  if (const char* skip = state.options.OptionValue("/SK");
      status == 1 && skip) {
    for (const char* failure : {"Could not open create file ",
                                "Could not create file-mapping object for ",
                                "Could not map view of file "}) {
      if (rest == start + failure + skip + "\n") return true;
    }
    return false;
  }
  if (state.options.HasOption("/C") &&
      (state.pager == nullptr || state.page_rate.page_limit <= 0 ||
       state.page_rate.window_seconds <= 0)) {
    return false;
  }
  start += "Scanning event logs (ctrl-c to quit)...\n";
  return status == -1 && console.log_path == (log != nullptr ? log : "") &&
         rest.compare(0, start.size(), start) == 0;
}

}  // namespace
}  // namespace sentory

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

  // The checks again, on a console of their own.
  FakeConsole check_console;
  OutputStream check_out(check_console);
  SeveritySlots severities;
  PageRateWindow rate;
  bool valid = ValidateOptions(state.options, check_out, &severities, &rate);

  bool right = false;
  if (state.options.HasOption("/?") || argv.size() <= 1) {
    static const std::string usage = UsageText();
    right = status == 1 && rest == usage;
  } else if (!valid) {
    // One line of an option check, the same as the checks print alone.
    right = status == 1 && rest == check_console.console &&
            rest.compare(0, 7, "Error: ") == 0 &&
            rest.find('\n') == rest.size() - 1;
  } else {
    right = StartedRight(state, console, rest, status);
  }
  if (!right) std::abort();
  return 0;
}
