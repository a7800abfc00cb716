#ifndef SENTORY_WINFORMAT_EVT_FILE_H_
#define SENTORY_WINFORMAT_EVT_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/locked_file.h"

namespace sentory {

// The event log file format: a 48-byte header, then a data area used as a
// ring that wraps at the end of the file back to the end of the header. It
// holds the records, oldest first, each followed by the 40-byte end-of-file
// record, which tells where the records begin and end. The header is only
// brought up to date when a writer finishes; until then it is marked dirty.
constexpr std::uint32_t kEvtHeaderSize = 0x30;
constexpr std::uint32_t kEvtEofSize = 0x28;
constexpr std::uint32_t kEvtSignature = 0x654C664C;  // "LfLe"
constexpr std::uint32_t kEvtFlagDirty = 0x1;
constexpr std::uint32_t kEvtFlagWrapped = 0x2;
/// The smallest and the default size of a log made by EvtWriter; sizes are
/// rounded up to a multiple of the smallest.
constexpr std::uint32_t kEvtMinMaxSize = 0x10000;
constexpr std::uint32_t kEvtDefaultMaxSize = 0x80000;

/// Where the records of a log lie, as its end-of-file record tells.
struct EvtState {
  std::uint32_t file_size = 0;           ///< the ring ends here
  std::uint32_t begin = kEvtHeaderSize;  ///< offset of the oldest record
  std::uint32_t end = kEvtHeaderSize;    ///< offset of the end-of-file record
  std::uint32_t next = 1;    ///< the number the next record written gets
  std::uint32_t oldest = 0;  ///< the oldest record's number, 0 when empty
  std::uint32_t header[kEvtHeaderSize / 4] = {};  ///< the header as read

  /// The number of records.
  std::uint32_t Count() const { return oldest == 0 ? 0 : next - oldest; }
};

/// Finds where the records of the log in |file| lie, trusting its
/// end-of-file record over its header. |start|, when it lies in the file's
/// data area, is where to look first: where the end-of-file record lay when
/// the file was last read. Takes no lock. Returns false when the file holds
/// no event log; |state| is then unspecified.
bool ReadEvtState(LockedFile* file, EvtState* state, std::uint32_t start = 0);

/// One event, its texts in UTF-8.
struct EvtEvent {
  std::uint32_t number = 0;  ///< set by the reader; the writer assigns it
  std::uint32_t time_generated = 0;
  std::uint32_t time_written = 0;
  std::uint32_t event_id = 0;
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::string source;
  std::string computer;
  std::vector<std::string> strings;
  std::vector<std::uint8_t> data;
};

/// Reads the records of one log by number. Each call that must go to the
/// file takes a shared lock for its duration; records are found through an
/// index of their offsets that grows as records are asked for and follows
/// the file as writers change it.
class EvtReader {
 public:
  enum class Result {
    kOk,
    kMissing,   ///< no record of that number in the log
    kTooSmall,  ///< the buffer is too small; *bytes_needed tells the size
    kCorrupt,   ///< the file or the record cannot be read
  };

  /// Reads the log in |file|; a null |file| is an empty log.
  explicit EvtReader(std::unique_ptr<LockedFile> file);

  /// Reads the log through |file| from now on, keeping what was learnt of
  /// it: for a file opened again. Refresh() checks that learning against
  /// the file.
  void Reopen(std::unique_ptr<LockedFile> file);
  /// Closes the file, keeping what was learnt of it and giving back the
  /// memory that only serves reads.
  void Release();

  /// Brings what is known of the log up to date, comparing its end-of-file
  /// record under the shared lock. Returns false when the file holds no
  /// event log. |stamp|, when given, is the file's, just taken.
  bool Refresh(const FileStamp* stamp = nullptr);
  /// As Refresh(), but takes one look at the file's stamp for the answer
  /// when it tells that nothing was written since the last refresh.
  bool RefreshIfChanged();
  /// The oldest record number (0 for an empty log) as of the last Refresh().
  std::uint32_t oldest() const { return state_.oldest; }
  /// The number of records as of the last Refresh().
  std::uint32_t count() const { return state_.Count(); }

  /// Copies record |number|, rebuilt in the single-byte layout (texts in
  /// Windows-1252, '?' for characters it lacks), to |buffer|. kTooSmall sets
  /// *bytes_needed; kOk sets *bytes_read.
  Result ReadRecord(std::uint32_t number, void* buffer, std::uint32_t size,
                    std::uint32_t* bytes_read, std::uint32_t* bytes_needed);
  /// Decodes record |number| into |event|.
  Result ReadEvent(std::uint32_t number, EvtEvent* event);

 private:
  enum class Step { kDone, kBad, kNeedLock };

  Result Fetch(std::uint32_t number);
  bool Look(const FileStamp* stamp, bool trust_stamp);
  bool RefreshLocked(const FileStamp* stamp);
  Step Locate(std::uint32_t number);
  Step Resolve(std::uint32_t index, std::uint32_t* offset);
  Step ReadRing(std::uint32_t offset, void* out, std::uint32_t size);
  Step FromFile(std::uint32_t offset, void* out, std::uint32_t size);
  std::uint32_t Known(std::uint32_t index) const;
  void Learn(std::uint32_t index, std::uint32_t offset);
  void Cover(std::uint32_t index);
  void Forget();

  std::unique_ptr<LockedFile> file_;
  // The file's stamp at the last refresh, and whether it can tell a later
  // write: a file changed within the time its stamp may not tell apart
  // could be written again with the same stamp. A file that held no event
  // log is not searched again while its stamp tells it is unchanged.
  FileStamp looked_stamp_;
  bool looked_ = false;
  bool bad_ = false;
  bool have_state_ = false;
  bool locked_ = false;
  EvtState state_;
  std::uint8_t eof_[kEvtEofSize] = {};
  // index_[i]: offset of record oldest + index_base_ + i, 0 while unknown.
  // It covers a bounded span of records about the ones last read, so the
  // memory held does not grow with the log.
  std::vector<std::uint32_t> index_;
  std::uint32_t index_base_ = 0;
  // The bytes at window_offset_, read under one shared lock together with
  // state_; empty when they may be out of date.
  std::vector<std::uint8_t> window_;
  std::uint32_t window_offset_ = 0;
  // The record last fetched, as stored, and as ReadRecord() rebuilt it.
  std::vector<std::uint8_t> raw_;
  std::vector<std::uint8_t> rebuilt_;
};

/// Writes one log. Holds the file's exclusive lock from Begin() to Finish();
/// while it holds it the header is marked dirty, as the platform's service
/// keeps a log it has open, and the end-of-file record is written before
/// each record that overwrites the one before. The header's offsets are kept
/// up to date as well, for readers that trust them.
class EvtWriter {
 public:
  /// Writes the log in |file|, which must outlive the writer.
  explicit EvtWriter(LockedFile* file) : file_(file) {}
  /// Releases the lock without writing the header when Finish() was not
  /// called, leaving the file as a writer that stopped would.
  ~EvtWriter();
  EvtWriter(const EvtWriter&) = delete;
  EvtWriter& operator=(const EvtWriter&) = delete;

  /// Takes the exclusive lock and reads the log; an empty file becomes an
  /// empty log of |max_size| bytes (rounded up to a multiple of
  /// kEvtMinMaxSize). Returns false, with the lock released and the file
  /// untouched, when the file holds no event log or cannot be made one.
  bool Begin(std::uint32_t max_size);
  /// Appends |event| as the next record, dropping the oldest records, whole,
  /// when the log is full. Returns false when it would not fit even in the
  /// empty log (the file is then untouched) or a write fails.
  bool Append(const EvtEvent& event);
  /// Empties the log; the next record written is number 1. False when a
  /// write fails.
  bool Clear();
  /// Writes the header, clean, and releases the lock. False when the write
  /// fails (the lock is released all the same).
  bool Finish();
  /// The log as this writer left it.
  const EvtState& state() const { return state_; }

 private:
  bool MarkDirty();
  bool WriteRing(std::uint32_t offset, const void* data, std::uint32_t size);
  bool WriteHeader(bool dirty);

  LockedFile* file_;
  bool locked_ = false;
  bool dirty_ = false;
  std::uint32_t flags_ = 0;
  EvtState state_;
};

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_EVT_FILE_H_
