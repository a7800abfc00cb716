#include "tools/tap-terminal/tap_block.h"

#include <gtest/gtest.h>

#include <string>

namespace sentory::tapterm {
namespace {

using namespace std::string_literals;

// Blocks captured from an independent client talking to a terminal.
const std::string kEmptyPinAbc =
    "\x02\x0d\x61\x62\x63\x0d\x03\x31\x34\x35\x0d"s;
const std::string kDiskFull = "\x02"s + "1234567" + "\x0d" +
                              "Disk C: 95% full" + "\x0d\x03\x36\x33\x39\x0d";

// Given the captured blocks, we should make them byte for byte and parse
// them back.
TEST(TapBlockTest, MakesAndParsesTheCapturedBlocks) {
  EXPECT_EQ(MakeBlock("", "abc"), kEmptyPinAbc);
  EXPECT_EQ(MakeBlock("1234567", "Disk C: 95% full"), kDiskFull);
  Block block;
  ASSERT_EQ(ParseBlock(kEmptyPinAbc, &block), BlockStatus::kOk);
  EXPECT_EQ(block.body, "\rabc\r");
  EXPECT_EQ(block.end, BlockEnd::kEtx);
  ASSERT_EQ(ParseBlock(kDiskFull, &block), BlockStatus::kOk);
  EXPECT_EQ(block.body, "1234567\rDisk C: 95% full\r");
}

// Given a sum over 12 bits and digits above 9, we should keep the low 12 bits
// and write the digits as '0' plus their value (0x32F for 40 'z').
TEST(TapBlockTest, ChecksumWrapsAndUsesCharactersPastNine) {
  const std::string block = MakeBlock("", std::string(40, 'z'));
  EXPECT_EQ(block.substr(block.size() - 4), "32?\r");
  // Only seven bits of each character count: 0xE9 weighs as 'i'.
  EXPECT_EQ(BlockChecksum("\xe9"), BlockChecksum("i"));
}

TEST(TapBlockTest, RejectsDamagedBlocks) {
  struct Case {
    std::string bytes;
    BlockStatus status;
  };
  const Case cases[] = {
      {"\002\rabd\r\003145\r", BlockStatus::kBadChecksum},
      {"\rabc\r\003145\r", BlockStatus::kMalformed},     // no STX
      {"\002\rabc\r\003145", BlockStatus::kMalformed},   // no last CR
      {"\002\rabc\r\00345\r", BlockStatus::kMalformed},  // short checksum
      {"\002\rabc\r145\r", BlockStatus::kMalformed},     // no end mark
      {"\002\ra\002bc\r\003145\r", BlockStatus::kMalformed},
      {"\002\00305\r", BlockStatus::kMalformed},  // shorter than any block
  };
  for (const Case& c : cases) {
    Block block;
    EXPECT_EQ(ParseBlock(c.bytes, &block), c.status) << c.bytes;
  }
}

}  // namespace
}  // namespace sentory::tapterm
