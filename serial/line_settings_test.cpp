#include "serial/line_settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "testapp/settings/config_block.h"

namespace quarnex {
namespace {

struct Block {
  uint8_t bytes[kConfigBlockSize] = {};
  void Put32(size_t offset, int32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[offset + static_cast<size_t>(i)] =
          static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
  }
};

TEST(LineSettingsTest, BlockFieldsMapToTheLine) {
  struct Case {
    int32_t size_code, parity, bit_rate;
    uint8_t auto_dcd_cts;
    int data_bits;
    LineParity line_parity;
    int bits_per_character;
  };
  const Case cases[] = {
      {0, 0, 9600, 0, 5, LineParity::kNone, 7},    {1, 1, 115200, 0, 7, LineParity::kOdd, 10},
      {2, 2, 1000000, 1, 6, LineParity::kEven, 9}, {3, 0, 0, 0, 8, LineParity::kNone, 10},
      {7, -1, -5, 0, 8, LineParity::kEven, 11},  // odd codes read as 8 bits; other parity as even
      {3, 5, 123457, 0, 8, LineParity::kEven, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size_code * 100 + c.parity);
    Block b;
    b.Put32(block::kTxCharacterSize, c.size_code);
    b.Put32(block::kParity, c.parity);
    b.Put32(block::kBitRate, c.bit_rate);
    b.bytes[block::kAutoDcdCts] = c.auto_dcd_cts;
    LineSettings s;
    ASSERT_TRUE(LineSettingsFromBlock(b.bytes, sizeof(b.bytes), &s));
    EXPECT_EQ(s.bit_rate, c.bit_rate);
    EXPECT_EQ(s.data_bits, c.data_bits);
    EXPECT_EQ(s.parity, c.line_parity);
    EXPECT_EQ(s.hardware_flow, c.auto_dcd_cts != 0);
    EXPECT_EQ(LineBitsPerCharacter(s), c.bits_per_character);
  }
}

TEST(LineSettingsTest, ShortBlockIsRefused) {
  Block b;
  LineSettings s;
  s.data_bits = 6;
  EXPECT_FALSE(LineSettingsFromBlock(b.bytes, kConfigBlockSize - 1, &s));
  EXPECT_FALSE(LineSettingsFromBlock(nullptr, kConfigBlockSize, &s));
  EXPECT_EQ(s.data_bits, 6);
}

TEST(LineSettingsTest, TermiosCarriesSizeParityAndFlowAndReadsBack) {
  termios t;
  std::memset(&t, 0, sizeof(t));
  t.c_lflag = ICANON | ECHO | ISIG;
  t.c_iflag = IXON | ICRNL;
  MakeRawLine(&t);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  LineSettings odd7{115200, 7, LineParity::kOdd, true};
  ApplyLineSettings(odd7, &t);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB | PARODD));
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_TRUE(LineFramingMatches(odd7, t));

  LineSettings none8{0, 8, LineParity::kNone, false};
  EXPECT_FALSE(LineFramingMatches(none8, t));
  ApplyLineSettings(none8, &t);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & INPCK, 0u);
  EXPECT_TRUE(LineFramingMatches(none8, t));
}

}  // namespace
}  // namespace quarnex
