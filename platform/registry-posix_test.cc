#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace sentory {
namespace {

namespace fs = std::filesystem;

constexpr char kKey[] =
    "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG\\APPLICATION\\SRC";

// A site in a temporary folder with machine SERVER1, whose registry holds
// one event source, and the local machine's folder.
class PosixRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/sentory-registry-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    root_ = folder;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    fs::create_directory(root_ + "/Server1");
    WriteRegistry("Server1/Registry.REG", "%SENTORY_TEST_DIR%\\a.dll");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    fs::create_directory(root_ + "/" + host);
    WriteRegistry(std::string(host) + "/registry.reg", "local.dll");
    fs::create_directory(root_ + "/EMPTY");
    fs::create_directory(root_ + "/BROKEN");
    std::ofstream(root_ + "/BROKEN/registry.reg") << "not an export\r\n";
  }

  void TearDown() override {
    fs::remove_all(root_);
    unsetenv("SENTORY_ROOT");
  }

  void WriteRegistry(const std::string& file, const std::string& value) {
    std::ofstream(root_ + "/" + file, std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\"
           "EventLog\\Application\\Src]\r\n\"EventMessageFile\"=\""
        << value << "\"\r\n";
  }

  std::string Read(RegistryService::Key root) {
    RegistryService::Key key = nullptr;
    if (registry_->OpenKey(root, kKey, &key) != kErrorSuccess) return "";
    char data[260] = {};
    std::uint32_t type = 0, size = sizeof data;
    long error =
        registry_->QueryValueEx(key, "EventMessageFile", &type,
                                reinterpret_cast<unsigned char*>(data), &size);
    EXPECT_EQ(kErrorSuccess, registry_->CloseKey(key));
    return error == kErrorSuccess && type == kRegSz ? data : "";
  }

  std::string root_;
  std::unique_ptr<RegistryService> registry_ = MakeSystemRegistry();
};

// Given a machine named in any case, with or without backslashes, its
// registry export is read and its keys and values found in any case; an
// export changed between two connections, even to the same size and time,
// is read again for the second. A
// machine that does not exist, one without an export and one whose export
// is not one cannot be connected to.
TEST_F(PosixRegistryTest, ConnectsToTheMachinesExport) {
  const auto machine = RegistryService::Root::kLocalMachine;
  RegistryService::Key root = nullptr, again = nullptr, key = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry("\\\\server1", machine, &root));
  EXPECT_EQ(kErrorFileNotFound, registry_->OpenKey(root, "SYSTEM\\NONE", &key));
  WriteRegistry("Server1/Registry.REG", "changed.dll");
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry("SERVER1", machine, &again));
  EXPECT_EQ("%SENTORY_TEST_DIR%\\a.dll", Read(root));
  EXPECT_EQ("changed.dll", Read(again));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(root));
  EXPECT_EQ(kErrorInvalidHandle, registry_->CloseKey(root));
  registry_->CloseKey(again);
  // Rewritten in place to the same size and given its time back.
  const std::string path = root_ + "/Server1/Registry.REG";
  const fs::file_time_type written = fs::last_write_time(path);
  WriteRegistry("Server1/Registry.REG", "CHANGED.dll");
  fs::last_write_time(path, written);
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry("SERVER1", machine, &again));
  EXPECT_EQ("CHANGED.dll", Read(again));
  registry_->CloseKey(again);

  EXPECT_EQ("local.dll", Read(registry_->LocalRoot(machine)));
  // Another root of the same export has no such key.
  EXPECT_EQ("", Read(registry_->LocalRoot(RegistryService::Root::kUsers)));

  const std::pair<const char*, long> failures[] = {{"NOPE", kErrorBadNetpath},
                                                   {"empty", kErrorBadNetpath},
                                                   {"Broken", kErrorBadDb}};
  for (const auto& [name, error] : failures) {
    EXPECT_EQ(error, registry_->ConnectRegistry(name, machine, &root)) << name;
  }
}

// Given none of the variables a Windows machine's registry export names its
// message files by, they expand, in any case, to where a standard
// installation keeps them; a value the process environment gives wins.
TEST_F(PosixRegistryTest, StandardWindowsVariables) {
  for (const char* name : {"SystemRoot", "windir", "SystemDrive",
                           "ProgramFiles", "CommonProgramFiles"}) {
    unsetenv(name);
  }
  const char kNames[] =
      "%SystemRoot%|%systemroot%|%windir%|%SystemDrive%|%ProgramFiles%|"
      "%CommonProgramFiles%";
  char out[200] = {};
  registry_->ExpandEnvironmentStrings(kNames, out, sizeof out);
  EXPECT_STREQ(
      "C:\\Windows|C:\\Windows|C:\\Windows|C:|C:\\Program Files|"
      "C:\\Program Files\\Common Files",
      out);
  setenv("WINDIR", "D:\\Windows", 1);
  registry_->ExpandEnvironmentStrings("%windir%", out, sizeof out);
  unsetenv("WINDIR");
  EXPECT_STREQ("D:\\Windows", out);
}

}  // namespace
}  // namespace sentory
