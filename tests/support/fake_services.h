#ifndef SENTORY_TESTS_SUPPORT_FAKE_SERVICES_H_
#define SENTORY_TESTS_SUPPORT_FAKE_SERVICES_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "eventlog/event_record.h"
#include "platform/event_log.h"
#include "platform/file_mapping.h"
#include "platform/message_module.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {

struct EventFields {
  std::uint32_t number = 1, time = 0, event_id = 1;
  std::uint16_t type = 1;
  std::string source = "Disk", computer = "SERVER1";
  std::vector<std::string> strings;
  std::uint32_t data_bytes = 0;  ///< binary data after the strings
};

/// |text| with a-z in upper case.
std::string Upper(std::string text);
/// The record in the single-byte EVENTLOGRECORD layout.
EventRecord MakeEventRecord(const EventFields& fields);

/// Logs by machine and name; only a seek read forwards succeeds, and a
/// machine without any log cannot be opened.
class FakeEventLog : public EventLogService {
 public:
  struct Log {
    std::uint32_t oldest = 0;  ///< number of the first record, 0 when empty
    std::vector<std::vector<std::uint8_t>> records;
    bool fail_queries = false, fail_reads = false;
  };
  Log& At(const std::string& machine, const std::string& log);
  void Append(const std::string& machine, const std::string& log,
              EventFields fields);  ///< numbered on from the newest
  void Drop(const std::string& machine, const std::string& log, int count);

  Handle OpenEventLog(const char* server, const char* source) override;
  bool GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) override {
    Log* l = static_cast<Log*>(log);
    *oldest = l->records.empty() ? 0 : l->oldest;
    return !l->fail_queries;
  }
  bool GetNumberOfEventLogRecords(Handle log, std::uint32_t* count) override {
    *count = static_cast<std::uint32_t>(static_cast<Log*>(log)->records.size());
    return !static_cast<Log*>(log)->fail_queries;
  }
  bool ReadEventLog(Handle log, std::uint32_t flags, std::uint32_t number,
                    void* buffer, std::uint32_t size, std::uint32_t* read,
                    std::uint32_t* needed) override;
  bool CloseEventLog(Handle log) override {
    open_handles -= log != nullptr;
    return true;
  }
  std::uint32_t LastError() override { return last_error; }

  std::map<std::string, std::map<std::string, Log>> machines;
  int open_handles = 0;
  std::uint32_t last_error = 0;
};

/// Keys "MACHINE|KEY PATH" ("" is the local machine), upper case, holding
/// upper-case value names -> type and bytes.
class FakeRegistry : public RegistryService {
 public:
  void Set(const std::string& machine, const std::string& key,
           const std::string& name, std::uint32_t type,
           const std::string& data);
  Key LocalRoot(Root) override { return Name("|"); }
  long ConnectRegistry(const char* machine, Root, Key* result) override {
    return Open(Upper(machine) + "|", machines_.count(Upper(machine)), result);
  }
  long OpenKey(Key parent, const char* sub_key, Key* result) override {
    const std::string& p = *static_cast<std::string*>(parent);
    std::string key = p.substr(0, p.find('|') + 1) + Upper(sub_key);
    return Open(key, keys_.count(key), result);
  }
  long QueryValueEx(Key key, const char* value_name, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* size) override;
  long CloseKey(Key) override { return --open_keys, kErrorSuccess; }
  std::uint32_t ExpandEnvironmentStrings(const char* source, char* destination,
                                         std::uint32_t size) override;

  std::map<std::string, std::string> environment;  ///< upper-case names
  int open_keys = 0;  ///< keys and connections not yet closed

 private:
  long Open(const std::string& name, bool exists, Key* result) {
    if (!exists)
      return name.back() == '|' ? kErrorBadNetpath : kErrorFileNotFound;
    *result = Name(name);
    return ++open_keys, kErrorSuccess;
  }
  Key Name(const std::string& name) {
    return const_cast<std::string*>(&*names_.insert(name).first);
  }
  std::map<std::string,
           std::map<std::string, std::pair<std::uint32_t, std::string>>>
      keys_;
  std::set<std::string> machines_, names_;
};

/// Message files: file name -> message id -> text with %1 to %9. Flags other
/// than the program's or a language other than 0 fail.
class FakeMessages : public MessageModules {
 public:
  Module LoadLibraryEx(const char* file_name) override {
    loads.push_back(file_name);
    auto it = files.find(file_name);
    return it == files.end() ? nullptr : (++loaded, &it->second);
  }
  std::uint32_t FormatMessage(std::uint32_t flags, Module module,
                              std::uint32_t message_id,
                              std::uint32_t language_id, char** buffer,
                              const char* const* arguments,
                              std::uint32_t argument_count) override;
  bool FreeLibrary(Module) override { return --loaded, true; }
  void LocalFree(char* buffer) override {
    delete[] buffer;
    --buffers;
  }

  std::map<std::string, std::map<std::uint32_t, std::string>> files;
  std::vector<std::string> loads;  ///< names asked for, in order
  int loaded = 0, buffers = 0;     ///< not yet freed
};

/// Files for the read-only views; a step can be made to fail.
class FakeFileMapper : public FileMapper {
 public:
  Handle OpenFile(const char* path) override {
    auto it = files.find(path);
    return it == files.end() ? nullptr : (++handles, &it->second);
  }
  Handle CreateFileMapping(Handle file) override {
    if (fail_mapping || static_cast<std::string*>(file)->empty()) return {};
    return ++handles, file;
  }
  const char* MapViewOfFile(Handle mapping, std::size_t* size) override {
    if (fail_view) return nullptr;
    ++views;
    *size = static_cast<std::string*>(mapping)->size();
    return static_cast<std::string*>(mapping)->data();
  }
  void UnmapViewOfFile(const char*) override { --views; }
  void CloseHandle(Handle) override { --handles; }

  std::map<std::string, std::string> files;
  bool fail_mapping = false, fail_view = false;
  int handles = 0, views = 0;
};

/// Starts nothing: keeps the command lines and the calls in order ("start",
/// "wait 7", "close 8"; the process is 7, its thread 8). A start fails with
/// |start_error| when that is not 0.
class FakeProcessLauncher : public ProcessLauncher {
 public:
  bool CreateProcessA(char* command_line, ProcessInformation* out) override {
    command_lines.push_back(command_line);
    calls.push_back("start");
    *out = {7, 8};
    return start_error == 0;
  }
  bool WaitForSingleObject(Handle process) override {
    return Call("wait ", process);
  }
  std::uint32_t GetLastError() override { return start_error; }
  bool CloseHandle(Handle handle) override { return Call("close ", handle); }
  bool Call(const char* name, Handle handle) {
    calls.push_back(name + std::to_string(handle));
    return true;
  }

  std::vector<std::string> command_lines, calls;
  std::uint32_t start_error = 0;
};

/// Every fake service, bundled as the core takes them.
struct FakePlatform {
  FakeConsole console;
  FakeClock clock;
  FakeEventLog event_log;
  FakeRegistry registry;
  FakeMessages messages;
  FakeFileMapper files;
  FakeProcessLauncher process;
  ScriptedSerialLine serial_ports;
  Platform platform{console,  clock, event_log, registry,
                    messages, files, process,   serial_ports};
};

}  // namespace sentory

#endif  // SENTORY_TESTS_SUPPORT_FAKE_SERVICES_H_
