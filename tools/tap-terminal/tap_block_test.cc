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

TEST(TapBlockTest, ReproducesTheCapturedBlocks) {
  EXPECT_EQ(MakeBlock("", "abc"), kEmptyPinAbc);
  EXPECT_EQ(MakeBlock("1234567", "Disk C: 95% full"), kDiskFull);
}

TEST(TapBlockTest, ParsesTheCapturedBlocks) {
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
      {"\x02\rabc\r\x03"
       "146\r",
       BlockStatus::kBadChecksum},
      {"\x02\rabd\r\x03"
       "145\r",
       BlockStatus::kBadChecksum},
      {"\rabc\r\x03"
       "145\r",
       BlockStatus::kMalformed},  // no STX
      {"\x02\rabc\r\x03"
       "145",
       BlockStatus::kMalformed},  // no last CR
      {"\x02\rabc\r\x03"
       "45\r",
       BlockStatus::kMalformed},  // short checksum
      {"\x02\rabc\r"
       "145\r",
       BlockStatus::kMalformed},  // no end mark
      {"\x02\ra\x02"
       "bc\r\x03"
       "145\r",
       BlockStatus::kMalformed},
      {"\x02\x03"
       "05\r",
       BlockStatus::kMalformed},
  };
  for (const Case& c : cases) {
    Block block;
    EXPECT_EQ(ParseBlock(c.bytes, &block), c.status) << c.bytes;
  }
}

}  // namespace
}  // namespace sentory::tapterm
