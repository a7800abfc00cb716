// sentory-eventlog: writes, clears and lists the events of a site's event
// logs, as an administrator's tools do on Windows.
//
//   sentory-eventlog write MACHINE LOG --source NAME --id ID [--type TYPE]
//       [--computer NAME] [--time SECONDS] [--category N] [--data HEX]
//       [--max-size BYTES] [STRING ...]
//   sentory-eventlog clear MACHINE LOG
//   sentory-eventlog list MACHINE LOG
//   sentory-eventlog --help | --version
//
// The site is the folder SENTORY_ROOT names. Bad input gives one line on
// standard error and exit status 2, with every file left as it was.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "winformat/evt_file.h"
#include "platform/locked_file.h"
#include "winformat/site.h"
#include "winformat/site_event_log.h"

namespace sentory {
namespace {

constexpr int kExitBadInput = 2;
constexpr char kVersion[] = "2.1.1";
constexpr char kUsage[] =
    "Usage: sentory-eventlog write MACHINE LOG --source NAME --id ID [--type "
    "TYPE]\n"
    "           [--computer NAME] [--time SECONDS] [--category N] [--data "
    "HEX]\n"
    "           [--max-size BYTES] [STRING ...]\n"
    "       sentory-eventlog clear MACHINE LOG\n"
    "       sentory-eventlog list MACHINE LOG\n"
    "       sentory-eventlog --help | --version\n"
    "Writes, clears and lists the events of the site in SENTORY_ROOT. LOG is\n"
    "System, Security or Application (any case); TYPE is error, warning,\n"
    "information (the default), success, failure or a number. list prints one\n"
    "line per record: number, time, type, ID, source, computer and the\n"
    "insertion strings joined with |, tab-separated, control bytes as \\xHH\n"
    "and a backslash as \\\\.\n";

struct TypeName {
  const char* name;
  std::uint16_t value;
};
constexpr TypeName kTypes[] = {{"error", 1},
                               {"warning", 2},
                               {"information", 4},
                               {"success", 8},
                               {"failure", 16}};
constexpr const char* kLogNames[] = {"System", "Security", "Application"};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "sentory-eventlog: %s\n", message.c_str());
  return kExitBadInput;
}

// Decimal, or hexadecimal after "0x", no larger than |max|.
bool ParseNumber(const std::string& text, bool hex_allowed, std::uint64_t max,
                 std::uint64_t* value) {
  std::size_t i = 0;
  unsigned base = 10;
  if (hex_allowed && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == text.size()) return false;
  std::uint64_t result = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > max) return false;
  }
  *value = result;
  return true;
}

bool ParseType(const std::string& text, std::uint16_t* type) {
  for (const auto& entry : kTypes) {
    if (Lower(text) == entry.name) {
      *type = entry.value;
      return true;
    }
  }
  std::uint64_t value = 0;
  if (!ParseNumber(text, false, 0xFFFF, &value)) return false;
  *type = static_cast<std::uint16_t>(value);
  return true;
}

bool ParseHex(const std::string& text, std::vector<std::uint8_t>* data) {
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::uint64_t byte = 0;
    if (!ParseNumber("0x" + text.substr(i, 2), true, 0xFF, &byte)) return false;
    data->push_back(static_cast<std::uint8_t>(byte));
  }
  return true;
}

// The word for |type|, or its number when it has none.
std::string TypeText(std::uint16_t type) {
  for (const auto& entry : kTypes) {
    if (entry.value == type) return entry.name;
  }
  return std::to_string(type);
}

// |text| on one line: control bytes as \xHH, a backslash doubled.
std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// The log's name as Sentory reads it, "" when it is none of the three.
std::string LogName(const std::string& log) {
  for (const char* name : kLogNames) {
    if (Lower(log) == Lower(name)) return name;
  }
  return "";
}

int Write(const std::string& machine, const std::string& log,
          const std::vector<std::string>& args) {
  EvtEvent event;
  bool have_source = false;
  bool have_id = false;
  bool have_computer = false;
  bool have_time = false;
  std::uint64_t max_size = kEvtDefaultMaxSize;
  event.type = 4;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.compare(0, 2, "--") != 0) {
      event.strings.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    static const char* const kOptions[] = {"--source",   "--id",      "--type",
                                           "--computer", "--time",    "--data",
                                           "--category", "--max-size"};
    bool known = false;
    for (const char* option : kOptions) known = known || arg == option;
    if (!known) return Fail("unknown option " + arg);
    if (i + 1 >= args.size()) return Fail("missing value after " + arg);
    const std::string& value = args[++i];
    std::uint64_t number = 0;
    if (arg == "--source") {
      event.source = value;
      have_source = true;
    } else if (arg == "--id") {
      if (!ParseNumber(value, true, 0xFFFFFFFFu, &number)) {
        return Fail("event ID is not a 32-bit number: " + value);
      }
      event.event_id = static_cast<std::uint32_t>(number);
      have_id = true;
    } else if (arg == "--type") {
      if (!ParseType(value, &event.type)) {
        return Fail("unknown event type: " + value);
      }
    } else if (arg == "--computer") {
      event.computer = value;
      have_computer = true;
    } else if (arg == "--time") {
      if (!ParseNumber(value, false, 0xFFFFFFFFu, &number)) {
        return Fail("time is not a number of seconds: " + value);
      }
      event.time_generated = static_cast<std::uint32_t>(number);
      have_time = true;
    } else if (arg == "--category") {
      if (!ParseNumber(value, false, 0xFFFF, &number)) {
        return Fail("category is not a number from 0 to 65535: " + value);
      }
      event.category = static_cast<std::uint16_t>(number);
    } else if (arg == "--data") {
      if (!ParseHex(value, &event.data)) {
        return Fail("data is not hexadecimal bytes: " + value);
      }
    } else if (arg == "--max-size") {
      if (!ParseNumber(value, false, 0xFFFF0000u, &max_size) ||
          max_size < kEvtMinMaxSize) {
        return Fail(
            "maximum size is not a number of bytes from 65536 to "
            "4294901760: " +
            value);
      }
    } else {
      return Fail("unknown option: " + arg);
    }
  }
  if (!have_source) return Fail("missing --source");
  if (!have_id) return Fail("missing --id");
  if (event.source.empty()) return Fail("empty source name");
  std::string folder_name = MachineFolderName(machine.c_str());
  if (folder_name.empty() ||
      folder_name.find_first_of("/\\") != std::string::npos) {
    return Fail("bad machine name: " + machine);
  }
  if (!have_computer) event.computer = folder_name;
  if (!have_time) {
    event.time_generated = static_cast<std::uint32_t>(std::time(nullptr));
  }
  event.time_written = event.time_generated;

  namespace fs = std::filesystem;
  std::string root = SiteRoot();
  std::string folder = FindNoCase(root, folder_name);
  std::error_code error;
  bool made_folder = folder.empty();
  if (made_folder) {
    folder = (fs::path(root) / folder_name).string();
    fs::create_directories(folder, error);
    if (error) {
      return Fail("cannot create machine folder " + folder + ": " +
                  error.message());
    }
  }
  std::string path = EventLogPath(folder, log);
  bool existed = fs::exists(path, error);
  auto file = MakeSystemFileAccess()->Open(path, FileAccess::Mode::kCreate);
  if (file == nullptr) return Fail("cannot open " + path + " for writing");
  // On failure, take away what this run made.
  auto undo = [&] {
    if (!existed) fs::remove(path, error);
    if (made_folder) fs::remove(folder, error);
  };
  EvtWriter writer(file.get());
  if (!writer.Begin(static_cast<std::uint32_t>(max_size))) {
    undo();
    return Fail(path + " is not an event log file");
  }
  if (!writer.Append(event)) {
    undo();
    return Fail("the event does not fit in " + path);
  }
  if (!writer.Finish()) return Fail("cannot write " + path);
  return 0;
}

// The log file of an existing machine folder, "" (after reporting) when the
// machine has none. |path| is "" when the log file does not exist.
bool FindLog(const std::string& machine, const std::string& log,
             std::string* path) {
  std::string folder = MachineFolder(machine.c_str());
  if (folder.empty()) {
    Fail("no folder for machine " + machine + " in " + SiteRoot());
    return false;
  }
  *path = FindNoCase(folder, log + ".evt");
  return true;
}

int Clear(const std::string& machine, const std::string& log) {
  std::string path;
  if (!FindLog(machine, log, &path)) return kExitBadInput;
  if (path.empty()) return 0;
  auto file = MakeSystemFileAccess()->Open(path, FileAccess::Mode::kWrite);
  if (file == nullptr) return Fail("cannot open " + path + " for writing");
  EvtWriter writer(file.get());
  if (!writer.Begin(kEvtDefaultMaxSize)) {
    return Fail(path + " is not an event log file");
  }
  if (!writer.Clear() || !writer.Finish()) return Fail("cannot write " + path);
  return 0;
}

int List(const std::string& machine, const std::string& log) {
  std::string path;
  if (!FindLog(machine, log, &path)) return kExitBadInput;
  if (path.empty()) {
    std::fprintf(stderr, "sentory-eventlog: machine %s has no %s log\n",
                 machine.c_str(), log.c_str());
    return 0;
  }
  auto file = MakeSystemFileAccess()->Open(path, FileAccess::Mode::kRead);
  if (file == nullptr) return Fail("cannot open " + path);
  EvtReader reader(std::move(file));
  if (!reader.Refresh()) return Fail(path + " is not an event log file");
  std::uint32_t first = reader.oldest();
  std::uint32_t count = reader.count();
  for (std::uint32_t i = 0; i < count; ++i) {
    EvtEvent event;
    if (reader.ReadEvent(first + i, &event) != EvtReader::Result::kOk) {
      return Fail("cannot read record " + std::to_string(first + i) + " of " +
                  path);
    }
    std::string strings;
    for (std::size_t k = 0; k < event.strings.size(); ++k) {
      if (k > 0) strings += '|';
      strings += Escaped(event.strings[k]);
    }
    std::printf("%u\t%u\t%s\t%u\t%s\t%s\t%s\n", event.number,
                event.time_generated, TypeText(event.type).c_str(),
                event.event_id, Escaped(event.source).c_str(),
                Escaped(event.computer).c_str(), strings.c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the listing");
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kExitBadInput;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("sentory-eventlog %s\n", kVersion);
    return 0;
  }
  if (command.compare(0, 2, "--") == 0) {
    return Fail("unknown option " + command);
  }
  if (command != "write" && command != "clear" && command != "list") {
    return Fail("unknown command: " + command);
  }
  if (args.size() < 2) return Fail("missing argument: MACHINE");
  if (args.size() < 3) return Fail("missing argument: LOG");
  const std::string& machine = args[1];
  const std::string log = LogName(args[2]);
  if (log.empty()) {
    return Fail("unknown log " + args[2] +
                ": the logs are System, Security and Application");
  }
  std::vector<std::string> rest(args.begin() + 3, args.end());
  if (command == "write") return Write(machine, log, rest);
  if (!rest.empty()) return Fail("unexpected argument: " + rest[0]);
  return command == "clear" ? Clear(machine, log) : List(machine, log);
}

}  // namespace
}  // namespace sentory

int main(int argc, char** argv) {
  return sentory::Run(std::vector<std::string>(argv + 1, argv + argc));
}
