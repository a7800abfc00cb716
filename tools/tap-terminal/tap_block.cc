#include "tools/tap-terminal/tap_block.h"

namespace sentory::tapterm {

namespace {

constexpr unsigned kChecksumMask = 0xfff;
constexpr unsigned kSevenBits = 0x7f;
// STX, an end mark, the checksum and CR.
constexpr std::size_t kShortestBlock = 3 + kChecksumLength;

bool IsEndMark(char c) { return c == kEtx || c == kEtb || c == kUs; }

}  // namespace

unsigned BlockChecksum(std::string_view bytes) {
  unsigned sum = 0;
  for (char c : bytes) sum += static_cast<unsigned char>(c) & kSevenBits;
  return sum & kChecksumMask;
}

std::string ChecksumText(unsigned checksum) {
  std::string text(kChecksumLength, '0');
  for (std::size_t i = 0; i < kChecksumLength; ++i) {
    const unsigned shift = 4 * static_cast<unsigned>(kChecksumLength - 1 - i);
    text[i] = static_cast<char>('0' + ((checksum >> shift) & 0xf));
  }
  return text;
}

std::string MakeBlock(std::string_view pin, std::string_view message) {
  std::string block(1, kStx);
  block.append(pin);
  block += kCr;
  block.append(message);
  block += kCr;
  block += kEtx;
  block += ChecksumText(BlockChecksum(block));
  block += kCr;
  return block;
}

BlockStatus ParseBlock(std::string_view bytes, Block* out) {
  if (bytes.size() < kShortestBlock || bytes.front() != kStx ||
      bytes.back() != kCr) {
    return BlockStatus::kMalformed;
  }
  const std::size_t mark = bytes.size() - 2 - kChecksumLength;
  if (!IsEndMark(bytes[mark])) return BlockStatus::kMalformed;
  const std::string_view body = bytes.substr(1, mark - 1);
  for (char c : body) {
    if (c == kStx || IsEndMark(c)) return BlockStatus::kMalformed;
  }
  out->body.assign(body);
  out->end = bytes[mark] == kEtx   ? BlockEnd::kEtx
             : bytes[mark] == kEtb ? BlockEnd::kEtb
                                   : BlockEnd::kUs;
  const std::string_view sent = bytes.substr(mark + 1, kChecksumLength);
  if (sent != ChecksumText(BlockChecksum(bytes.substr(0, mark + 1)))) {
    return BlockStatus::kBadChecksum;
  }
  return BlockStatus::kOk;
}

}  // namespace sentory::tapterm
