#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "platform/serial_port.h"

namespace sentory {
namespace {

// A pseudo-terminal linked as dev/com7 in a site folder of its own, opened
// as port_; the test plays the modem on the master side.
class SerialPortPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master_ >= 0 && grantpt(master_) == 0 &&
                unlockpt(master_) == 0);
    char folder[] = "/tmp/sentory-serial-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    root_ = folder;
    ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
    ASSERT_EQ(symlink(ptsname(master_), (root_ + "/dev/com7").c_str()), 0);
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    EXPECT_EQ(ports_->CreateFileA("NOSUCHPORT"), kInvalidSerialHandle);
    port_ = ports_->CreateFileA("cOm7");
    ASSERT_NE(port_, kInvalidSerialHandle);
  }
  void TearDown() override {
    if (port_ != kInvalidSerialHandle) {
      EXPECT_TRUE(ports_->CloseHandle(port_));
    }
    if (master_ >= 0) close(master_);
    std::filesystem::remove_all(root_);
    unsetenv("SENTORY_ROOT");
  }

  // Reads with |timeouts|. If the read has not returned after a few
  // seconds, the master writes more, so a read that would never end fails
  // the test instead of hanging it.
  std::string Read(std::uint32_t size, CommTimeouts timeouts, bool ok = true) {
    EXPECT_TRUE(ports_->SetCommTimeouts(port_, timeouts));
    std::promise<void> done;
    std::future<void> returned = done.get_future();
    std::thread watchdog([master = master_, &returned] {
      if (returned.wait_for(std::chrono::seconds(5)) ==
          std::future_status::timeout) {
        (void)!write(master, "WATCHDOG", 8);
      }
    });
    char buffer[64] = {};
    std::uint32_t count = 0;
    EXPECT_EQ(ok, ports_->ReadFile(port_, buffer, size, &count));
    done.set_value();
    watchdog.join();
    return std::string(buffer, count);
  }
  void MasterWrites(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  std::string root_;
  std::unique_ptr<SerialPorts> ports_ = MakeSystemSerialPorts();
  SerialHandle port_ = kInvalidSerialHandle;
};

// Given a port opened by a name in another case, no other Sentory opens it
// until it is closed, once.
TEST_F(SerialPortPosixTest, OpensByNameWithoutRegardToCaseAndExclusively) {
  std::unique_ptr<SerialPorts> other = MakeSystemSerialPorts();
  EXPECT_EQ(other->CreateFileA("COM7"), kInvalidSerialHandle);
  EXPECT_TRUE(ports_->CloseHandle(port_));
  EXPECT_FALSE(ports_->CloseHandle(port_));
  port_ = kInvalidSerialHandle;
  SerialHandle port = other->CreateFileA("COM7");
  ASSERT_NE(port, kInvalidSerialHandle);
  EXPECT_TRUE(other->CloseHandle(port));
}

// Given line settings, they read back as set (one and a half stop bits are
// refused), and bytes pass unchanged both ways with nothing echoed.
TEST_F(SerialPortPosixTest, RawLineKeepsItsSettings) {
  Dcb dcb, read_back;
  dcb.BaudRate = 19200;
  dcb.StopBits = 2;
  ASSERT_TRUE(ports_->SetCommState(port_, dcb));
  ASSERT_TRUE(ports_->GetCommState(port_, &read_back));
  EXPECT_EQ(read_back.BaudRate, 19200u);
  EXPECT_EQ(read_back.StopBits, 2);
  dcb.StopBits = 1;
  EXPECT_FALSE(ports_->SetCommState(port_, dcb));
  ports_->EscapeCommFunction(port_, kSetDtr);  // refused by a pseudo-terminal
  MasterWrites("\r\n\x1b");
  EXPECT_EQ(Read(3, {0, 0, 0, 0, 0}), "\r\n\x1b");
  struct pollfd echo = {master_, POLLIN, 0};
  EXPECT_EQ(poll(&echo, 1, 0), 0);
  std::uint32_t written = 0;
  ASSERT_TRUE(ports_->WriteFile(port_, "at\n", 3, &written));
  EXPECT_EQ(written, 3u);
  char got[8] = {};
  EXPECT_EQ(read(master_, got, sizeof(got)), 3);
  EXPECT_STREQ(got, "at\n");
}

TEST_F(SerialPortPosixTest, ReadsReturnAsTheTimeOutsSay) {
  // The total time-out passes with nothing arriving: success, no bytes.
  EXPECT_EQ(Read(10, {0, 1, 20, 0, 0}), "");
  // Bytes beyond the count asked for stay for the next read.
  MasterWrites("HELLO");
  EXPECT_EQ(Read(3, {0, 1, 20, 0, 0}), "HEL");
  EXPECT_EQ(Read(10, {0, 1, 20, 0, 0}), "LO");
  // With no total time-out, the interval after the last byte ends a read.
  MasterWrites("AB");
  EXPECT_EQ(Read(10, {30, 0, 0, 0, 0}), "AB");
  // An interval of MAXDWORD alone returns at once with what is there.
  EXPECT_EQ(Read(10, {0xFFFFFFFF, 0, 0, 0, 0}), "");
  // The total grows with the count asked for: 150 ms a byte leaves a read
  // of 8 bytes the time for those that follow the first a little later.
  MasterWrites("A");
  std::thread late([master = master_] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    (void)!write(master, "BCDEFGH", 7);
  });
  EXPECT_EQ(Read(8, {0, 150, 0, 0, 0}), "ABCDEFGH");
  late.join();
  // The line going away is a device error.
  close(master_);
  master_ = -1;
  EXPECT_EQ(Read(4, {0, 1, 20, 0, 0}, false), "");
}

}  // namespace
}  // namespace sentory
