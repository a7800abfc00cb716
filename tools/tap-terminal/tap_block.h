#ifndef SENTORY_TOOLS_TAP_TERMINAL_TAP_BLOCK_H_
#define SENTORY_TOOLS_TAP_TERMINAL_TAP_BLOCK_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace sentory::tapterm {

// Control characters of the paging protocol.
constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
constexpr char kEot = '\x04';
constexpr char kAck = '\x06';
constexpr char kLf = '\x0a';
constexpr char kCr = '\x0d';
constexpr char kNak = '\x15';
constexpr char kEtb = '\x17';
constexpr char kEsc = '\x1b';
constexpr char kRs = '\x1e';
constexpr char kUs = '\x1f';

/// Number of characters of a block's checksum.
constexpr std::size_t kChecksumLength = 3;

/// The checksum of |bytes| (a block from its STX through its ETX, ETB or US):
/// the sum of the 7-bit values of the characters, kept to its low 12 bits.
unsigned BlockChecksum(std::string_view bytes);

/// |checksum| written as a block carries it: three characters, '0' plus each
/// 4-bit group, the most significant first.
std::string ChecksumText(unsigned checksum);

/// A whole block for |pin| and |message|: STX, the two fields each ended by
/// CR, ETX, the checksum and CR.
std::string MakeBlock(std::string_view pin, std::string_view message);

/// How a block read from the line ended.
enum class BlockEnd {
  kEtx,  ///< the last block of a transaction
  kEtb,  ///< more blocks follow; the last field is complete
  kUs,   ///< more blocks follow; the last field goes on in the next block
};

enum class BlockStatus {
  kOk,
  kBadChecksum,  ///< well framed, but the checksum does not match
  kMalformed,    ///< not STX ... ETX|ETB|US, three characters, CR
};

/// A block taken apart: |body| is what lies between STX and the end mark.
struct Block {
  std::string body;
  BlockEnd end = BlockEnd::kEtx;
};

/// Checks |bytes| (one whole block, from STX through the CR after the
/// checksum) and fills |out| when it is well framed. Returns kMalformed or
/// kBadChecksum on failure (|out| is then filled or left as it was).
BlockStatus ParseBlock(std::string_view bytes, Block* out);

}  // namespace sentory::tapterm

#endif  // SENTORY_TOOLS_TAP_TERMINAL_TAP_BLOCK_H_
