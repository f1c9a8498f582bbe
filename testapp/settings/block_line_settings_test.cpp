#include "testapp/settings/block_line_settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "testapp/settings/config_block.h"
#include "testapp/settings/line_block_test_util.h"

namespace quarnex {
namespace {

TEST(BlockLineSettingsTest, BlockFieldsMapToTheLine) {
  const struct {
    int32_t rate, size_code, parity;
    uint8_t auto_dcd_cts;
    int data_bits;
    LineParity line_parity;
  } kCases[] = {
      {9600, 0, 0, 0, 5, LineParity::kNone},
      {115200, 1, 1, 0, 7, LineParity::kOdd},
      {1000000, 2, 2, 1, 6, LineParity::kEven},
      {0, 3, 0, 0, 8, LineParity::kNone},
      // Codes outside 0..3 read as 8 bits; any other parity as even.
      {-5, 7, -1, 0, 8, LineParity::kEven},
      {123457, 3, 5, 0, 8, LineParity::kEven},
      {0, 9, 0, 0, 8, LineParity::kNone},
      {19200, 1, 2, 1, 7, LineParity::kEven},
      {38400, 2, -1, 0, 6, LineParity::kEven},
      // Every byte of a field counts: a rate above 16 bits, and any
      // nonzero flag byte.
      {0x01020304, -2, 0x100, 0x80, 8, LineParity::kEven},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.rate << " bit/s, size " << c.size_code << ", parity " << c.parity);
    const std::vector<uint8_t> block = LineBlock(c.rate, c.size_code, c.parity, c.auto_dcd_cts);
    LineSettings s;
    ASSERT_TRUE(LineSettingsFromBlock(block.data(), block.size(), &s));
    EXPECT_EQ(s.bit_rate, c.rate);
    EXPECT_EQ(s.data_bits, c.data_bits);
    EXPECT_EQ(s.parity, c.line_parity);
    EXPECT_EQ(s.hardware_flow, c.auto_dcd_cts != 0);
  }
}

TEST(BlockLineSettingsTest, ShortBlockIsRefused) {
  const std::vector<uint8_t> block(kConfigBlockSize - 1, 0);
  LineSettings s;
  s.data_bits = 6;
  EXPECT_FALSE(LineSettingsFromBlock(block.data(), block.size(), &s));
  EXPECT_FALSE(LineSettingsFromBlock(nullptr, kConfigBlockSize, &s));
  EXPECT_EQ(s.data_bits, 6);
}

}  // namespace
}  // namespace quarnex
