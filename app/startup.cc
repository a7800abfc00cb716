#include "app/startup.h"

#include <new>

#include "app/scan_loop.h"
#include "app/shutdown.h"
#include "app/validate.h"

namespace sentory {

const std::string_view kBanner =
    "\n"
    "Quorvane (Sentory) V2.1.1\n"
    "  Generate alerts from NT event logs to alphanumeric pager or external "
    "program.\n"
    "  Written and maintained by the Sentory developers.\n";

void PrintUsage(OutputStream& out) {
  static const char* const kUsage[] = {
      "Usage: Sentory [/Mn machine_name] [/SYS][/APP][/SEC] [/S EWISF] "
      "[/SK skip_file]",
      "               [/C COMx,baud,bits,parity,stop] [/PH phone#] "
      "[/Pn pager_pin]",
      "               [/MAX pages/secs] [/R program] [/Bn start_hour-end_hour]",
      "               [/L log_file] [/D] ",
      " /Mn    List of computers to monitor. Specify multiple where n=0 to 31",
      " /SYS   Monitor System log",
      " /APP   Monitor Application log",
      " /SEC   Monitor Security log",
      " /S     Event severities (error, warning, information, success, "
      "failure)",
      " /SK    Skip file. Each line lists Event ID and Source of event to skip",
      " /C     Com port parameters for paging modem",
      " /PH    Phone number of paging terminal",
      " /Pn    Pager pin number. Specify multiple where n=0 to n",
      " /MAX   Maximum page rate to prevent pager terminal overload (default "
      "5/60)",
      " /R     Program to run for each alert (parms: 1-event time, 2-message)",
      " /Bn    Blackout periods(hours 0 to 23). Specify multiple where n=0 to "
      "n",
      " /L     Log file",
      " /D     Output TAP protocol debug info",
  };
  for (const char* line : kUsage) out.Line({line});
}

namespace {

void OpenLogFile(RunState& state) {
  const char* path = state.options.OptionValue("/L");
  state.out.Line({"Output written to ", path, ". (ctrl-c to quit)..."});
  if (!state.out.OpenLogFile(path)) {
    state.out.Line({"Could not open log file ", path});
    Shutdown(nullptr, 1);
  }
  state.out.Line({kBanner});
}

}  // namespace

void RunSentory(RunState& state, int count, const char* const* words) {
  InstallShutdownRecord(&state);
  state.out.Line({kBanner});
  std::set_new_handler(OnOutOfMemory);
  state.platform.console.SetControlHandler(OnConsoleControl);
  state.options.ParseCommandLine(count, words);

  if (state.options.HasOption("/?") || count <= 1) {
    PrintUsage(state.out);
    Shutdown(nullptr, 1);
  }
  if (!ValidateOptions(state.options, state.out, &state.severities,
                       &state.page_rate)) {
    Shutdown(nullptr, 1);
  }
  int machines = 0;
  while (state.options.HasOption(OptionTable::NumberedKey("/M", machines))) {
    ++machines;
  }
  state.cursors.Reset(machines);
  if (state.options.HasOption("/L")) OpenLogFile(state);
  if (const char* skip_file = state.options.OptionValue("/SK")) {
    state.skip_text = std::make_unique<SkipList>();
    if (!LoadSkipText(state.platform.files, skip_file, state.out,
                      state.skip_text.get())) {
      Shutdown(nullptr, 1);
    }
  }
  if (const char* settings = state.options.OptionValue("/C")) {
    state.modem = std::make_unique<ModemLink>(state.platform.serial_ports,
                                              state.platform.clock, settings);
    state.pager = std::make_unique<PagingDispatcher>(
        state.options, state.out, state.platform.clock, *state.modem,
        state.page_rate);
  }
  ScanAndAlert(state);
}

}  // namespace sentory
