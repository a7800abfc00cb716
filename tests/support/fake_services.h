#ifndef SENTORY_TESTS_SUPPORT_FAKE_SERVICES_H_
#define SENTORY_TESTS_SUPPORT_FAKE_SERVICES_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "eventlog/event_record.h"
#include "platform/event_log.h"
#include "platform/file_mapping.h"
#include "platform/message_module.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tests/support/fake_process_launcher.h"
#include "tests/support/fakes.h"
#include "tests/support/scripted_serial_line.h"

namespace sentory {

/// What a test says about one event.
struct EventFields {
  std::uint32_t number = 1;
  std::uint32_t time = 0;
  std::uint32_t event_id = 1;
  std::uint16_t type = 1;
  std::string source = "Disk";
  std::string computer = "SERVER1";
  std::vector<std::string> strings;
  std::uint32_t data_bytes = 0;  ///< binary data after the strings
};

/// The record in the single-byte EVENTLOGRECORD layout.
EventRecord MakeEventRecord(const EventFields& fields);

/// Event logs in memory by machine and log name; only a seek read forwards
/// succeeds. A machine without any log cannot be opened.
class FakeEventLog : public EventLogService {
 public:
  struct Log {
    std::uint32_t oldest = 0;  ///< number of the first record, 0 when empty
    std::vector<std::vector<std::uint8_t>> records;
    bool fail_queries = false;
    bool fail_reads = false;
  };
  Log& At(const std::string& machine, const std::string& log);
  /// Appends a record numbered on from the newest.
  void Append(const std::string& machine, const std::string& log,
              EventFields fields);
  /// Empties the log; its next record is number 1.
  void Clear(const std::string& machine, const std::string& log);
  void Drop(const std::string& machine, const std::string& log, int count);

  Handle OpenEventLog(const char* server, const char* source) override;
  bool GetOldestEventLogRecord(Handle log, std::uint32_t* oldest) override;
  bool GetNumberOfEventLogRecords(Handle log, std::uint32_t* count) override;
  bool ReadEventLog(Handle log, std::uint32_t flags,
                    std::uint32_t record_number, void* buffer,
                    std::uint32_t size, std::uint32_t* bytes_read,
                    std::uint32_t* bytes_needed) override;
  bool CloseEventLog(Handle log) override;
  std::uint32_t LastError() override { return last_error_; }

  std::vector<std::string> opens;  ///< "machine/log" of each open
  std::vector<std::uint32_t> read_sizes;
  int open_handles = 0;

 private:
  std::map<std::string, std::map<std::string, Log>> machines_;
  std::uint32_t last_error_ = 0;
};

/// A registry in memory: machine ("" is local) -> upper-case key path ->
/// value name -> type and bytes.
class FakeRegistry : public RegistryService {
 public:
  struct Value {
    std::uint32_t type;
    std::string data;  ///< the bytes, terminator included where wanted
  };
  void Set(const std::string& machine, const std::string& key,
           const std::string& name, std::uint32_t type,
           const std::string& data);

  Key LocalRoot(Root root) override;
  long ConnectRegistry(const char* machine, Root root, Key* result) override;
  long OpenKey(Key parent, const char* sub_key, Key* result) override;
  long QueryValueEx(Key key, const char* value_name, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* size) override;
  long CloseKey(Key key) override;
  std::uint32_t ExpandEnvironmentStrings(const char* source, char* destination,
                                         std::uint32_t size) override;

  std::map<std::string, std::string> environment;  ///< upper-case names
  int open_keys = 0;  ///< keys and connections not yet closed

 private:
  struct Handle {
    std::string machine, key;
  };
  Key NewHandle(std::string machine, std::string key);
  std::map<std::string, std::map<std::string, std::map<std::string, Value>>>
      machines_;
  std::map<Key, std::unique_ptr<Handle>> handles_;
};

/// Message files in memory: file name -> message id -> text with %1 to %9.
/// Flags other than 0x29FF or a language other than 0 fail.
class FakeMessages : public MessageModules {
 public:
  std::map<std::string, std::map<std::uint32_t, std::string>> files;

  Module LoadLibraryEx(const char* file_name) override;
  std::uint32_t FormatMessage(std::uint32_t flags, Module module,
                              std::uint32_t message_id,
                              std::uint32_t language_id, char** buffer,
                              const char* const* arguments,
                              std::uint32_t argument_count) override;
  bool FreeLibrary(Module module) override;
  void LocalFree(char* buffer) override;

  std::vector<std::string> loads;  ///< names asked for, in order
  int loaded = 0;                  ///< modules not yet freed
  int buffers = 0;                 ///< buffers not yet freed
};

/// Files in memory for the read-only file views; a step can be made to fail.
class FakeFileMapper : public FileMapper {
 public:
  std::map<std::string, std::string> files;
  bool fail_mapping = false;
  bool fail_view = false;

  Handle OpenFile(const char* path) override;
  Handle CreateFileMapping(Handle file) override;
  const char* MapViewOfFile(Handle mapping, std::size_t* size) override;
  void UnmapViewOfFile(const char*) override { --views; }
  void CloseHandle(Handle) override { --handles; }

  int handles = 0;
  int views = 0;
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
