#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/registry.h"

namespace sentory {
namespace {

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
    mkdir((root_ + "/Server1").c_str(), 0700);
    WriteRegistry("Server1/Registry.REG", "%SENTORY_TEST_DIR%\\a.dll");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    mkdir((root_ + "/" + host).c_str(), 0700);
    WriteRegistry(std::string(host) + "/registry.reg", "local.dll");
    mkdir((root_ + "/EMPTY").c_str(), 0700);
    mkdir((root_ + "/BROKEN").c_str(), 0700);
    std::ofstream(root_ + "/BROKEN/registry.reg") << "not an export\r\n";
  }

  void TearDown() override {
    std::system(("rm -rf '" + root_ + "'").c_str());
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
// registry export is read and its keys and values found in any case.
TEST_F(PosixRegistryTest, ConnectsToTheMachinesExport) {
  RegistryService::Key root = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry(
                "\\\\server1", RegistryService::Root::kLocalMachine, &root));
  EXPECT_EQ("%SENTORY_TEST_DIR%\\a.dll", Read(root));
  RegistryService::Key key = nullptr;
  EXPECT_EQ(kErrorFileNotFound, registry_->OpenKey(root, "SYSTEM\\NONE", &key));
  EXPECT_EQ(kErrorSuccess, registry_->CloseKey(root));
  EXPECT_EQ(kErrorInvalidHandle, registry_->CloseKey(root));

  EXPECT_EQ("local.dll",
            Read(registry_->LocalRoot(RegistryService::Root::kLocalMachine)));
  // Another root of the same export has no such key.
  EXPECT_EQ("", Read(registry_->LocalRoot(RegistryService::Root::kUsers)));
}

// Given a machine that does not exist, one without an export and one whose
// export is not one, the connection fails.
TEST_F(PosixRegistryTest, ConnectionFailures) {
  RegistryService::Key root = nullptr;
  const auto machine = RegistryService::Root::kLocalMachine;
  EXPECT_EQ(kErrorBadNetpath,
            registry_->ConnectRegistry("NOPE", machine, &root));
  EXPECT_EQ(kErrorBadNetpath,
            registry_->ConnectRegistry("empty", machine, &root));
  EXPECT_EQ(kErrorBadDb, registry_->ConnectRegistry("Broken", machine, &root));
}

// Given an export changed between two connections, the second sees the
// change.
TEST_F(PosixRegistryTest, ReadsAChangedExportAgain) {
  RegistryService::Key root = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry(
                "SERVER1", RegistryService::Root::kLocalMachine, &root));
  WriteRegistry("Server1/Registry.REG", "changed.dll");
  RegistryService::Key again = nullptr;
  ASSERT_EQ(kErrorSuccess,
            registry_->ConnectRegistry(
                "SERVER1", RegistryService::Root::kLocalMachine, &again));
  EXPECT_EQ("%SENTORY_TEST_DIR%\\a.dll", Read(root));
  EXPECT_EQ("changed.dll", Read(again));
  registry_->CloseKey(root);
  registry_->CloseKey(again);
}

}  // namespace
}  // namespace sentory
