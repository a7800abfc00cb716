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

// A pseudo-terminal linked as dev/com7 in a site folder of its own; the
// test plays the modem on the master side.
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
  }

  void TearDown() override {
    if (master_ >= 0) close(master_);
    std::filesystem::remove_all(root_);
    unsetenv("SENTORY_ROOT");
  }

  // Reads with |timeouts|. If the read has not returned after a few
  // seconds, the master writes more, so a read that would never end fails
  // the test instead of hanging it.
  std::string Read(SerialHandle port, std::uint32_t size,
                   CommTimeouts timeouts) {
    EXPECT_TRUE(ports_->SetCommTimeouts(port, timeouts));
    std::promise<void> done;
    std::future<void> returned = done.get_future();
    int master = master_;
    std::thread watchdog([master, &returned] {
      if (returned.wait_for(std::chrono::seconds(5)) ==
          std::future_status::timeout) {
        (void)!write(master, "WATCHDOG", 8);
      }
    });
    char buffer[64] = {};
    std::uint32_t count = 0;
    EXPECT_TRUE(ports_->ReadFile(port, buffer, size, &count));
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
};

TEST_F(SerialPortPosixTest, OpensByNameWithoutRegardToCaseAndExclusively) {
  EXPECT_EQ(ports_->CreateFileA("NOSUCHPORT"), kInvalidSerialHandle);
  SerialHandle port = ports_->CreateFileA("cOm7");
  ASSERT_NE(port, kInvalidSerialHandle);
  std::unique_ptr<SerialPorts> other = MakeSystemSerialPorts();
  EXPECT_EQ(other->CreateFileA("COM7"), kInvalidSerialHandle);
  EXPECT_TRUE(ports_->CloseHandle(port));
  EXPECT_FALSE(ports_->CloseHandle(port));
  port = other->CreateFileA("COM7");
  ASSERT_NE(port, kInvalidSerialHandle);
  EXPECT_TRUE(other->CloseHandle(port));
}

TEST_F(SerialPortPosixTest, RawLineKeepsItsSettings) {
  SerialHandle port = ports_->CreateFileA("COM7");
  ASSERT_NE(port, kInvalidSerialHandle);
  Dcb dcb;
  dcb.BaudRate = 19200;
  dcb.StopBits = 2;
  ASSERT_TRUE(ports_->SetCommState(port, dcb));
  Dcb read_back;
  ASSERT_TRUE(ports_->GetCommState(port, &read_back));
  EXPECT_EQ(read_back.BaudRate, 19200u);
  EXPECT_EQ(read_back.StopBits, 2);
  dcb.StopBits = 1;  // one and a half
  EXPECT_FALSE(ports_->SetCommState(port, dcb));
  ports_->EscapeCommFunction(port, kSetDtr);  // refused by a pseudo-terminal

  // Bytes pass unchanged both ways, and nothing is echoed.
  MasterWrites("\r\n\x1b");
  EXPECT_EQ(Read(port, 3, {0, 0, 0, 0, 0}), "\r\n\x1b");
  struct pollfd echo = {master_, POLLIN, 0};
  EXPECT_EQ(poll(&echo, 1, 0), 0);
  std::uint32_t written = 0;
  ASSERT_TRUE(ports_->WriteFile(port, "at\n", 3, &written));
  EXPECT_EQ(written, 3u);
  char got[8] = {};
  EXPECT_EQ(read(master_, got, sizeof(got)), 3);
  EXPECT_STREQ(got, "at\n");
  EXPECT_TRUE(ports_->CloseHandle(port));
}

TEST_F(SerialPortPosixTest, ReadsReturnAsTheTimeOutsSay) {
  SerialHandle port = ports_->CreateFileA("COM7");
  ASSERT_NE(port, kInvalidSerialHandle);
  // The total time-out passes with nothing arriving: success, no bytes.
  EXPECT_EQ(Read(port, 10, {0, 1, 20, 0, 0}), "");
  // Bytes beyond the count asked for stay for the next read.
  MasterWrites("HELLO");
  EXPECT_EQ(Read(port, 3, {0, 1, 20, 0, 0}), "HEL");
  EXPECT_EQ(Read(port, 10, {0, 1, 20, 0, 0}), "LO");
  // With no total time-out, the interval after the last byte ends a read.
  MasterWrites("AB");
  EXPECT_EQ(Read(port, 10, {30, 0, 0, 0, 0}), "AB");
  // An interval of MAXDWORD alone returns at once with what is there.
  EXPECT_EQ(Read(port, 10, {0xFFFFFFFF, 0, 0, 0, 0}), "");
  // The total grows with the count asked for: 150 ms a byte leaves a read
  // of 8 bytes the time for those that follow the first a little later.
  MasterWrites("A");
  int master = master_;
  std::thread late([master] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    (void)!write(master, "BCDEFGH", 7);
  });
  EXPECT_EQ(Read(port, 8, {0, 150, 0, 0, 0}), "ABCDEFGH");
  late.join();

  // The line going away is a device error.
  close(master_);
  master_ = -1;
  char buffer[4];
  std::uint32_t count = 0;
  EXPECT_FALSE(ports_->ReadFile(port, buffer, sizeof(buffer), &count));
  EXPECT_TRUE(ports_->CloseHandle(port));
}

}  // namespace
}  // namespace sentory
