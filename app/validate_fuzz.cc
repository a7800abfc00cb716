// Random command lines through the option table and the checks: never a
// crash, and an invalid verdict always comes with exactly one line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/option_table.h"
#include "app/output_stream.h"
#include "app/validate.h"

namespace {

class CountingConsole : public sentory::Console {
 public:
  void Write(std::string_view text) override {
    for (char c : text) lines += c == '\n';
  }
  void Flush() override {}
  bool ReopenOutput(const char*) override { return false; }
  void CloseOutput() override {}
  bool SetControlHandler(ControlHandler) override { return false; }
  [[noreturn]] void ExitProcess(int) override { std::abort(); }
  int lines = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Words are separated by NUL bytes; the first is the program name.
  std::vector<std::string> words(1, "sentory");
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());

  sentory::OptionTable table;
  table.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  CountingConsole console;
  sentory::OutputStream out(console);
  sentory::SeveritySlots severities;
  sentory::PageRateWindow rate;
  bool valid = sentory::ValidateOptions(table, out, &severities, &rate);
  if (valid != (console.lines == 0) || console.lines > 1) std::abort();
  if (valid && table.HasOption("/C") &&
      (rate.page_limit <= 0 || rate.window_seconds <= 0)) {
    std::abort();
  }
  return 0;
}
