#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/serial_port.h"

namespace sentory {
namespace {

// Writes to the line if a read has not returned within a few seconds, so a
// read that never ends fails its test instead of hanging it.
class Watchdog {
 public:
  explicit Watchdog(int fd)
      : thread_([this, fd] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, std::chrono::seconds(5),
                                 [this] { return done_; })) {
            (void)!write(fd, "WATCHDOG", 8);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// A pseudo-terminal linked as dev/com7 in a site folder of its own.
class SerialPortPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    char folder[] = "/tmp/sentory-serial-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    root_ = folder;
    ASSERT_EQ(mkdir((root_ + "/dev").c_str(), 0755), 0);
    ASSERT_EQ(symlink(ptsname(master_), (root_ + "/dev/com7").c_str()), 0);
    if (const char* old = getenv("SENTORY_ROOT")) old_root_ = old;
    setenv("SENTORY_ROOT", root_.c_str(), 1);
    ports_ = MakeSystemSerialPorts();
  }

  void TearDown() override {
    ports_.reset();
    if (master_ >= 0) close(master_);
    unlink((root_ + "/dev/com7").c_str());
    rmdir((root_ + "/dev").c_str());
    rmdir(root_.c_str());
    if (old_root_.empty()) {
      unsetenv("SENTORY_ROOT");
    } else {
      setenv("SENTORY_ROOT", old_root_.c_str(), 1);
    }
  }

  SerialHandle OpenWith(CommTimeouts timeouts) {
    SerialHandle port = ports_->CreateFileA("COM7");
    EXPECT_NE(port, kInvalidSerialHandle);
    EXPECT_TRUE(ports_->SetCommTimeouts(port, timeouts));
    return port;
  }

  std::string Read(SerialHandle port, std::uint32_t size) {
    char buffer[64] = {};
    std::uint32_t count = 0;
    EXPECT_TRUE(ports_->ReadFile(port, buffer, size, &count));
    return std::string(buffer, count);
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  std::string root_;
  std::string old_root_;
  std::unique_ptr<SerialPorts> ports_;
};

TEST_F(SerialPortPosixTest, OpensByNameWithoutRegardToCaseAndExclusively) {
  EXPECT_EQ(ports_->CreateFileA("NOSUCHPORT"), kInvalidSerialHandle);
  SerialHandle port = ports_->CreateFileA("cOm7");
  ASSERT_NE(port, kInvalidSerialHandle);
  EXPECT_EQ(ports_->CreateFileA("COM7"), kInvalidSerialHandle);
  std::unique_ptr<SerialPorts> other = MakeSystemSerialPorts();
  EXPECT_EQ(other->CreateFileA("COM7"), kInvalidSerialHandle);

  EXPECT_TRUE(ports_->CloseHandle(port));
  EXPECT_FALSE(ports_->CloseHandle(port));
  port = other->CreateFileA("COM7");
  EXPECT_NE(port, kInvalidSerialHandle);
  EXPECT_TRUE(other->CloseHandle(port));
}

TEST_F(SerialPortPosixTest, RawLineKeepsItsSettings) {
  SerialHandle port = OpenWith({0, 0, 100, 0, 0});
  Dcb dcb;
  dcb.BaudRate = 19200;
  dcb.ByteSize = 7;
  dcb.Parity = 2;
  dcb.StopBits = 2;
  ASSERT_TRUE(ports_->SetCommState(port, dcb));
  Dcb read_back;
  ASSERT_TRUE(ports_->GetCommState(port, &read_back));
  EXPECT_EQ(read_back.BaudRate, 19200u);
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is told.
  EXPECT_EQ(read_back.StopBits, 2);
  dcb.StopBits = 1;  // one and a half
  EXPECT_FALSE(ports_->SetCommState(port, dcb));

  // A pseudo-terminal has no DTR; the port works on all the same.
  ports_->EscapeCommFunction(port, kSetDtr);

  // Bytes pass unchanged both ways, and nothing is echoed.
  MasterWrite("\r\n\x1b");
  EXPECT_EQ(Read(port, 3), "\r\n\x1b");
  struct pollfd echo = {master_, POLLIN, 0};
  EXPECT_EQ(poll(&echo, 1, 0), 0);
  std::uint32_t written = 0;
  ASSERT_TRUE(ports_->WriteFile(port, "at\n", 3, &written));
  EXPECT_EQ(written, 3u);
  char got[8] = {};
  ASSERT_EQ(read(master_, got, sizeof(got)), 3);
  EXPECT_EQ(std::string(got, 3), "at\n");
  EXPECT_TRUE(ports_->CloseHandle(port));
}

TEST_F(SerialPortPosixTest, ReadsReturnAsTheTimeOutsSay) {
  // The total time-out passes with nothing arriving: success, no bytes.
  SerialHandle port = OpenWith({0, 1, 20, 0, 0});
  EXPECT_EQ(Read(port, 10), "");

  // Bytes beyond the count asked for stay for the next read.
  MasterWrite("HELLO");
  EXPECT_EQ(Read(port, 3), "HEL");
  EXPECT_EQ(Read(port, 10), "LO");

  // With no total time-out the interval after the last byte ends the read.
  ASSERT_TRUE(ports_->SetCommTimeouts(port, {30, 0, 0, 0, 0}));
  {
    Watchdog watchdog(master_);
    MasterWrite("AB");
    EXPECT_EQ(Read(port, 10), "AB");
  }

  // A read returns at once when the count has arrived, even with no time-out
  // at all; and an interval of MAXDWORD alone returns what is there.
  ASSERT_TRUE(ports_->SetCommTimeouts(port, {0, 0, 0, 0, 0}));
  {
    Watchdog watchdog(master_);
    MasterWrite("XYZ");
    EXPECT_EQ(Read(port, 3), "XYZ");
  }
  ASSERT_TRUE(ports_->SetCommTimeouts(port, {0xFFFFFFFF, 0, 0, 0, 0}));
  EXPECT_EQ(Read(port, 10), "");

  // The line going away is a device error.
  ASSERT_TRUE(ports_->SetCommTimeouts(port, {0, 1, 20, 0, 0}));
  close(master_);
  master_ = -1;
  char buffer[4];
  std::uint32_t count = 0;
  EXPECT_FALSE(ports_->ReadFile(port, buffer, sizeof(buffer), &count));
  EXPECT_TRUE(ports_->CloseHandle(port));
}

}  // namespace
}  // namespace sentory
