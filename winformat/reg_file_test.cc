#include "winformat/reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "tests/support/evt_events.h"

namespace sentory {
namespace {

using Read = std::tuple<long, std::uint32_t, std::string>;

// The value as RegQueryValueExA gives it; error -1: no such key.
Read Query(const RegistryFile& file, const std::string& key,
           const std::string& value) {
  const RegistryKey* found = RegistryFile::Find(file.Top(), key);
  if (found == nullptr) return {-1, 0, ""};
  unsigned char buffer[260];
  std::uint32_t size = sizeof buffer, type = 0;
  long error = RegistryFile::QueryValue(*found, value, &type, buffer, &size);
  if (error != 0) return {error, 0, ""};
  return {0, type, std::string(reinterpret_cast<char*>(buffer), size)};
}

Read Sz(std::uint32_t type, const std::string& text) {
  return {0, type, text + '\0'};
}

const Read kNone = {2, 0, ""};

std::size_t CountKeys(const RegistryKey& key, std::size_t* message_files) {
  std::size_t count = 1;
  *message_files += key.values.count("EventMessageFile");
  for (const auto& [name, sub] : key.subkeys) {
    count += CountKeys(*sub, message_files);
  }
  return count;
}

// The real export whole, values as the registry editor shows them.
TEST(RegistryFileTest, RealExportParsesWhole) {
  std::string bytes = TestData("reg/EventLog.reg");
  if (bytes.empty()) GTEST_SKIP() << "shared/testdata not found";
  RegistryFile file;
  ASSERT_TRUE(file.Parse(bytes));
  const std::string log =
      "hkey_local_machine\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\";
  const RegistryKey* top = RegistryFile::Find(file.Top(), log);
  ASSERT_NE(nullptr, top);
  std::size_t message_files = 0;
  EXPECT_EQ(505u, CountKeys(*top, &message_files));
  EXPECT_EQ(423u, message_files);
  const std::string kFile = "eventmessagefile";
  const struct {
    const char* source;
    std::string name;
    Read want;
  } kCases[] = {
      {"APPLICATION\\ESENT", kFile, Sz(2, "%systemroot%\\system32\\esent.dll")},
      {"Application\\ipmiprv", kFile,
       Sz(2, "%windir%\\system32\\wbem\\ipmiprr.dll")},
      {"APPLICATION\\.NET RUNTIME", kFile,
       Sz(1, "C:\\Windows\\System32\\mscoree.dll")},
      {"Application\\CardSpace 4.0.0.0", kFile,
       Sz(1,
          "C:\\Windows\\Microsoft.NET\\Framework64\\v4.0.30319\\Service"
          "ModelEvents.dll;C:\\Windows\\System32\\icardres.dll")},
      {"SYSTEM\\BTHMINI", kFile,
       Sz(2,
          "%SystemRoot%\\System32\\IoLogMsg.dll;%SystemRoot%\\System32\\"
          "Drivers\\Bthport.sys;%SystemRoot%\\System32\\Drivers\\BthMini"
          ".sys")},
      {"Application\\.NET Runtime", "Nothing", kNone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Query(file, log + c.source, c.name), c.want) << c.source;
  }
}

// Every encoding, kind of value, bad value and deletion (later lines win).
TEST(RegistryFileTest, ValuesAsTheRegistryHoldsThem) {
  const std::string v5 = "Windows Registry Editor Version 5.00\r\n";
  const std::string cafe = "\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n\"Name\"=\"Caf";
  std::string utf16 = "\xFF\xFE";
  for (char c : v5 + cafe) utf16 += std::string(1, c) + '\0';
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
  const char* const kSoft = "HKEY_LOCAL_MACHINE\\SOFT";
  const char* const kK = "HKEY_LOCAL_MACHINE\\K";
  const char* const kC = "HKEY_LOCAL_MACHINE\\A\\B\\C";
  const Read kCafe = Sz(1, "Caf\xE9");
  const struct {
    std::string text;
    const char* key;
    const char* name;
    Read want;
  } kCases[] = {
      {utf16 + std::string("\xE9\0\"\0\r\0\n\0", 8), kSoft, "name", kCafe},
      {"\xEF\xBB\xBF" + v5 + cafe + "\xC3\xA9\"\r\n", kSoft, "name", kCafe},
      {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Soft]\n"
       "\"Name\"=\"Caf\xC3\xA9\"\n",
       kSoft, "name", kCafe},
      {"REGEDIT4\r\n" + cafe + "\xE9\"\r\n", kSoft, "name", kCafe},
      {kinds, kK, "", Sz(1, "default")},
      {kinds, kK, "quoted", Sz(1, "a \"b\" c:\\d")},
      {kinds, kK, "COUNT", {0, 4, std::string("\x2a\0\0\0", 4)}},
      {kinds, kK, "Bytes", {0, 3, "\x01\xff\x7f"}},
      {kinds, kK, "Expand", Sz(2, "%A%")},
      {kinds, kK, "Multi", {0, 7, std::string("a\0b\0\0", 5)}},
      {kinds, kK, "Quad", {0, 11, std::string("\x01\0\0\0\0\0\0\0", 8)}},
      {kinds, kK, "Broken", kNone},
      {kinds, kK, "Long", kNone},
      {kinds, kK, "None", kNone},
      {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"E\"=hex(2):25,41,25,00\r\n",
       kK, "e", Sz(2, "%A%")},
      {merged, kC, "v", kNone},
      {merged, kC, "W", Sz(1, "2")},
      {merged, kC, "x", Sz(1, "3")},
      {merged, "HKEY_LOCAL_MACHINE\\A\\D", "v", {-1, 0, ""}},
      {merged, "HKEY_LOCAL_MACHINE\\A", "", kNone},
  };
  for (const auto& c : kCases) {
    RegistryFile file;
    ASSERT_TRUE(file.Parse(c.text)) << c.name;
    EXPECT_EQ(Query(file, c.key, c.name), c.want) << c.name;
  }
  RegistryFile file;
  EXPECT_FALSE(file.Parse("[HKEY_LOCAL_MACHINE\\Soft]\r\n"));  // not an export
}

// A buffer too small: ERROR_MORE_DATA, the size needed, nothing written.
TEST(RegistryFileTest, ValueLargerThanTheBuffer) {
  RegistryFile file;
  ASSERT_TRUE(file.Parse("REGEDIT4\r\n[HKEY_USERS\\K]\r\n\"v\"=\"abcd\"\r\n"));
  const RegistryKey* key = RegistryFile::Find(file.Top(), "HKEY_USERS\\K");
  ASSERT_NE(nullptr, key);
  unsigned char buffer[8] = "zzzzzzz";
  std::uint32_t type = 0, size = 4;
  EXPECT_EQ(234, RegistryFile::QueryValue(*key, "v", &type, buffer, &size));
  EXPECT_EQ(std::make_pair(5u, 'z'), std::make_pair(size, char(buffer[0])));
  EXPECT_EQ(0, RegistryFile::QueryValue(*key, "v", &type, buffer, &size));
  size = 0;
  EXPECT_EQ(0, RegistryFile::QueryValue(*key, "v", &type, nullptr, &size));
  EXPECT_EQ(5u, size);
}

}  // namespace
}  // namespace sentory
