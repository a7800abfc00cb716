#include "winformat/reg_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/evt_events.h"

namespace sentory {
namespace {

// The value as RegQueryValueExA gives it: its type and its bytes.
struct Read {
  long error;
  std::uint32_t type;
  std::string data;
};

Read Query(const RegistryFile& file, const std::string& key,
           const std::string& value) {
  Read read = {-1, 0, ""};
  const RegistryKey* found = RegistryFile::Find(file.Top(), key);
  if (found == nullptr) return read;
  unsigned char buffer[260];
  std::uint32_t size = sizeof buffer;
  read.error =
      RegistryFile::QueryValue(*found, value, &read.type, buffer, &size);
  if (read.error == 0) read.data.assign(reinterpret_cast<char*>(buffer), size);
  return read;
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

constexpr char kEventLog[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\";

std::size_t CountKeys(const RegistryKey& key, std::size_t* message_files) {
  std::size_t count = 1;
  *message_files += key.values.count("EventMessageFile");
  for (const auto& [name, sub] : key.subkeys) {
    count += CountKeys(*sub, message_files);
  }
  return count;
}

// Given the real export, every key and every message file value is there,
// and the values read as the registry editor shows them.
TEST(RegistryFileTest, RealExportParsesWhole) {
  std::string bytes = TestData("reg/EventLog.reg");
  if (bytes.empty()) GTEST_SKIP() << "shared/testdata not found";
  RegistryFile file;
  ASSERT_TRUE(file.Parse(bytes));
  const RegistryKey* log = RegistryFile::Find(file.Top(), kEventLog);
  ASSERT_NE(nullptr, log);
  std::size_t message_files = 0;
  EXPECT_EQ(505u, CountKeys(*log, &message_files));
  EXPECT_EQ(423u, message_files);

  const std::string upper =
      "hkey_local_machine\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\";
  struct Case {
    std::string source;
    std::uint32_t type;
    std::string value;
  } cases[] = {
      {"APPLICATION\\ESENT", 2, "%systemroot%\\system32\\esent.dll"},
      {"Application\\ipmiprv", 2, "%windir%\\system32\\wbem\\ipmiprr.dll"},
      {"APPLICATION\\.NET RUNTIME", 1, "C:\\Windows\\System32\\mscoree.dll"},
      {"Application\\CardSpace 4.0.0.0", 1,
       "C:\\Windows\\Microsoft.NET\\Framework64\\v4.0.30319\\ServiceModel"
       "Events.dll;C:\\Windows\\System32\\icardres.dll"},
      {"SYSTEM\\BTHMINI", 2,
       "%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\Drivers"
       "\\Bthport.sys;%SystemRoot%\\System32\\Drivers\\BthMini.sys"},
  };
  for (const Case& c : cases) {
    Read read = Query(file, upper + c.source, "eventmessagefile");
    EXPECT_EQ(0, read.error) << c.source;
    EXPECT_EQ(c.type, read.type) << c.source;
    EXPECT_EQ(c.value + std::string(1, '\0'), read.data) << c.source;
  }
  EXPECT_EQ(2,
            Query(file, upper + "Application\\.NET Runtime", "Nothing").error);
}

// Given the same export in each encoding the registry editor writes, every
// kind of value line, and deletions of keys and values (later lines win,
// whatever the case), each value should read back with the type and bytes
// the registry would hold, or error 2 when it is not there (-1: no key).
TEST(RegistryFileTest, ValuesAsTheRegistryHoldsThem) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  const std::string kinds =
      v5 +
      "; a comment\r\n[HKEY_LOCAL_MACHINE\\K]\r\n@=\"default\"\r\n"
      "\"Quoted\"=\"a \\\"b\\\" c:\\\\d\"\r\n\"Count\"=dword:0000002a\r\n"
      "\"Bytes\"=hex:01,ff,\\\r\n  7f\r\n"
      "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n\"Broken\"=hex:zz\r\n"
      "\"Long\"=dword:123456789\r\n\"None\"=dword:\r\n"
      "  ; indented comment\r\n";
  const std::string merged =
      v5 +
      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\D]\r\n\"v\"=\"1\"\r\n"
      "[hkey_local_machine\\a\\b\\c]\r\n\"V\"=-\r\n\"x\"=\"3\"\r\n"
      "[-HKEY_LOCAL_MACHINE\\a\\d]\r\n[-HKEY_LOCAL_MACHINE\\Missing\\Key]\r\n";
  const std::string cafe = std::string("Caf\xE9\0", 5);
  const char* const kSoft = "HKEY_LOCAL_MACHINE\\SOFT";
  const char* const kK = "HKEY_LOCAL_MACHINE\\K";
  const char* const kC = "HKEY_LOCAL_MACHINE\\A\\B\\C";
  const struct {
    std::string text;
    const char* key;
    const char* name;
    long error;
    std::uint32_t type;
    std::string data;
  } kCases[] = {
      {Utf16(v5 + "\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n\"Name\"=\"Caf") +
           std::string("\xE9\0\"\0\r\0\n\0", 8),
       kSoft, "name", 0, 1, cafe},
      {"\xEF\xBB\xBF" + v5 +
           "\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n\"Name\"=\"Caf\xC3\xA9\"\r\n",
       kSoft, "name", 0, 1, cafe},
      {"Windows Registry Editor Version 5.00\n\n"
       "[HKEY_LOCAL_MACHINE\\Soft]\n\"Name\"=\"Caf\xC3\xA9\"\n",
       kSoft, "name", 0, 1, cafe},
      {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n\"Name\"=\"Caf\xE9\"\r\n",
       kSoft, "name", 0, 1, cafe},
      {kinds, kK, "", 0, 1, std::string("default\0", 8)},
      {kinds, kK, "quoted", 0, 1, std::string("a \"b\" c:\\d\0", 11)},
      {kinds, kK, "COUNT", 0, 4, std::string("\x2a\0\0\0", 4)},
      {kinds, kK, "Bytes", 0, 3, "\x01\xff\x7f"},
      {kinds, kK, "Expand", 0, 2, std::string("%A%\0", 4)},
      {kinds, kK, "Multi", 0, 7, std::string("a\0b\0\0", 5)},
      {kinds, kK, "Quad", 0, 11, std::string("\x01\0\0\0\0\0\0\0", 8)},
      {kinds, kK, "Broken", 2, 0, ""},
      {kinds, kK, "Long", 2, 0, ""},
      {kinds, kK, "None", 2, 0, ""},
      {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"Expand\"=hex(2):25,41,25,"
       "00\r\n",
       kK, "Expand", 0, 2, std::string("%A%\0", 4)},
      {merged, kC, "v", 2, 0, ""},
      {merged, kC, "W", 0, 1, std::string("2\0", 2)},
      {merged, kC, "x", 0, 1, std::string("3\0", 2)},
      {merged, "HKEY_LOCAL_MACHINE\\A\\D", "v", -1, 0, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RegistryFile file;
    ASSERT_TRUE(file.Parse(c.text));
    Read read = Query(file, c.key, c.name);
    EXPECT_EQ(c.error, read.error);
    if (read.error == 0) {
      EXPECT_EQ(c.type, read.type);
      EXPECT_EQ(c.data, read.data);
    }
  }
  RegistryFile file;
  ASSERT_TRUE(file.Parse(merged));
  EXPECT_NE(nullptr, RegistryFile::Find(file.Top(), "HKEY_LOCAL_MACHINE\\A"));
  EXPECT_FALSE(file.Parse("[HKEY_LOCAL_MACHINE\\Soft]\r\n"));  // not an export
}

// Given a buffer too small for the value, the read fails with
// ERROR_MORE_DATA and the size needed, and writes nothing.
TEST(RegistryFileTest, ValueLargerThanTheBuffer) {
  RegistryFile file;
  ASSERT_TRUE(file.Parse("REGEDIT4\r\n[HKEY_USERS\\K]\r\n\"v\"=\"abcd\"\r\n"));
  const RegistryKey* key = RegistryFile::Find(file.Top(), "HKEY_USERS\\K");
  ASSERT_NE(nullptr, key);
  unsigned char buffer[8] = "zzzzzzz";
  std::uint32_t type = 0, size = 4;
  EXPECT_EQ(234, RegistryFile::QueryValue(*key, "v", &type, buffer, &size));
  EXPECT_EQ(5u, size);
  EXPECT_EQ('z', buffer[0]);
  size = 5;
  EXPECT_EQ(0, RegistryFile::QueryValue(*key, "v", &type, buffer, &size));
  EXPECT_EQ(std::string("abcd\0", 5),
            std::string(reinterpret_cast<char*>(buffer), 5));
  size = 0;
  EXPECT_EQ(0, RegistryFile::QueryValue(*key, "v", &type, nullptr, &size));
  EXPECT_EQ(5u, size);
}

}  // namespace
}  // namespace sentory
