#include "platform/locked_file.h"

#include <chrono>
#include <cstring>

namespace sentory {
namespace {

class MemoryFile : public LockedFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}

  bool Size(std::uint64_t* size) override {
    *size = bytes_.size();
    return true;
  }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    if (size != 0) std::memcpy(buffer, bytes_.data() + offset, size);
    return true;
  }
  bool WriteAt(std::uint64_t offset, const void* data,
               std::size_t size) override {
    if (offset + size > bytes_.size()) bytes_.resize(offset + size, '\0');
    if (size != 0) std::memcpy(&bytes_[offset], data, size);
    return true;
  }
  bool Resize(std::uint64_t size) override {
    bytes_.resize(size, '\0');
    return true;
  }
  bool Lock(bool /*exclusive*/) override { return true; }
  void Unlock() override {}

  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace

bool StampShowsLaterWrites(std::int64_t changed_ns) {
  constexpr std::int64_t kStepNs = 2'000'000'000;
  std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  return now - changed_ns > kStepNs;
}

std::unique_ptr<LockedFile> MakeMemoryFile(std::string bytes) {
  return std::make_unique<MemoryFile>(std::move(bytes));
}

const std::string& MemoryFileBytes(const LockedFile& file) {
  return static_cast<const MemoryFile&>(file).bytes();
}

}  // namespace sentory
