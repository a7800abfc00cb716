#ifndef SENTORY_PLATFORM_LOCKED_FILE_H_
#define SENTORY_PLATFORM_LOCKED_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sentory {

/// What tells one file from another, and one state of it from another.
struct FileStamp {
  std::uint64_t device = 0, inode = 0;  ///< the file's identity
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;  ///< the last write, in ns since 1970

  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified_ns == o.modified_ns;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

/// Whether a file last changed at |changed_ns| (nanoseconds since 1970) will
/// show a later write in its stamp: file systems keep file times in steps of
/// up to two seconds, so a write soon after the last may leave them as they
/// were. What was learnt of a file changed so recently must be checked
/// against its content, not its stamp.
bool StampShowsLaterWrites(std::int64_t changed_ns);

/// One open file with positioned reads and writes and a whole-file lock that
/// other processes honour. Abstract so file formats can be read from memory
/// in tests; FileAccess opens real ones.
class LockedFile {
 public:
  virtual ~LockedFile() = default;
  /// The file's size in bytes; false when it cannot be found.
  virtual bool Size(std::uint64_t* size) = 0;
  /// The file's identity, size and modification time; false when they
  /// cannot be had (files in memory have none).
  virtual bool Stamp(FileStamp* /*stamp*/) { return false; }
  /// Reads exactly |size| bytes at |offset|; false on failure or when the
  /// file ends first.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t size) = 0;
  /// Writes |size| bytes at |offset|; false on failure (the file may then
  /// hold part of them).
  virtual bool WriteAt(std::uint64_t offset, const void* data,
                       std::size_t size) = 0;
  /// Makes the file |size| bytes long, with zeros where it grows; false on
  /// failure.
  virtual bool Resize(std::uint64_t size) = 0;
  /// Waits for a shared (readers) or exclusive (writer) lock of the whole
  /// file; false when it cannot be taken.
  virtual bool Lock(bool exclusive) = 0;
  /// Releases the lock taken by Lock().
  virtual void Unlock() = 0;
};

/// Opens files. Abstract so it can be faked; MakeSystemFileAccess() gives the
/// real one.
class FileAccess {
 public:
  enum class Mode {
    kRead,    ///< an existing file, for reading
    kWrite,   ///< an existing file, for reading and writing
    kCreate,  ///< for reading and writing, created empty when missing
  };
  virtual ~FileAccess() = default;
  /// Opens |path| (in this platform's spelling); nullptr on failure, with
  /// *|missing| (when given) telling whether it failed because there is no
  /// such file, as against any other reason (permissions, a folder, ...).
  std::unique_ptr<LockedFile> Open(const std::string& path, Mode mode,
                                   bool* missing = nullptr) {
    bool none = false;
    std::unique_ptr<LockedFile> file = OpenFile(path, mode, &none);
    if (missing != nullptr) *missing = file == nullptr && none;
    return file;
  }

 protected:
  /// Opens |path|; on failure sets *|missing| when there is no such file.
  virtual std::unique_ptr<LockedFile> OpenFile(const std::string& path,
                                               Mode mode, bool* missing) = 0;
};

/// The files of this machine.
std::unique_ptr<FileAccess> MakeSystemFileAccess();

/// A file held in memory, starting with |bytes|; its locks always succeed.
/// For tests and fuzzing of file formats.
std::unique_ptr<LockedFile> MakeMemoryFile(std::string bytes);

/// The bytes of a file made by MakeMemoryFile().
const std::string& MemoryFileBytes(const LockedFile& file);

}  // namespace sentory

#endif  // SENTORY_PLATFORM_LOCKED_FILE_H_
