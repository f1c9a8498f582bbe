#include "testapp/settings/config_block.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quarnex {
namespace {

constexpr uint8_t kFill = 0xAA;

// Fills the test's block with a marker, so a stored 0 and a stray write both
// show, and starts from cleared options.
class ConfigBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(block_.bytes, kFill, kConfigBlockSize);
    ResetOptions();
  }
  void ResetOptions() { ResetTesterOptions(options_); }
  int Apply(const char* key, const char* value) {
    return ApplyConfigKey(key, value, block_, options_);
  }
  // Expects the block to hold `value` (little-endian, `width` bytes) at
  // `offset` and the marker everywhere else.
  void ExpectOnly(size_t offset, size_t width, uint32_t value) {
    const uint8_t* bytes = block_.bytes;
    for (size_t i = 0; i < kConfigBlockSize; ++i) {
      const bool inside = i >= offset && i < offset + width;
      const uint8_t want = inside ? static_cast<uint8_t>(value >> (8 * (i - offset))) : kFill;
      EXPECT_EQ(bytes[i], want) << "offset " << i;
    }
  }
  void ExpectOptionsZero() {
    const TesterOptions& o = options_;
    EXPECT_EQ(o.OverlapWrite.load() | o.OverlapRead.load() | o.OverlapIoctl.load() |
                  o.IoctlIndex.load() | o.NumberOverlap.load() | o.StripSyncIdle.load(),
              0);
  }

  DeviceConfigBlock block_{};
  TesterOptions options_;
};

TEST_F(ConfigBlockTest, StoresValueWholeOrItsLow8Bits) {
  const struct {
    const char* key;
    const char* value;
    size_t offset;
    size_t width;
    uint32_t stored;
  } cases[] = {
      {"Lim", "5\n", 4, 4, 5},
      {"Lim", " 5\n", 4, 4, 5},
      {"Lim", "5=6\n", 4, 4, 5},
      {"Lim", "\n", 4, 4, 0},
      {"Lim", "99999999999\n", 4, 4, 0x4876E7FF},
      {"Parity", "-1\n", 20, 4, 0xFFFFFFFF},
      {"Oscillator", "305419896\n", 25, 4, 0x12345678},
      {"TxClock", "-2\n", 33, 4, 0xFFFFFFFE},
      {"BitRate", "64000\n", 42, 4, 64000},
      {"SyncCharacter1", "22\n", 63, 1, 0x16},
      {"SyncCharacter1", "0x16\n", 63, 1, 0},
      {"SdlcAddress", "257\n", 60, 1, 1},
      {"Loopback", "-1\n", 197, 1, 0xFF},
      {"AutoDcdCts", "300\n", 24, 1, 0x2C},
      {"MergeFrames", "2\n", 194, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    std::memset(block_.bytes, kFill, kConfigBlockSize);
    EXPECT_EQ(Apply(c.key, c.value), 1);
    ExpectOnly(c.offset, c.width, c.stored);
  }
  ExpectOptionsZero();
}

TEST_F(ConfigBlockTest, UnknownAndIgnoredKeysChangeNothing) {
  const char* keys[] = {"Lim ", "lim", "LIM", "Li", "Limx", "", "OverlapWrite ",
                        // Known keys that drive nothing.
                        "ClockMode", "RTS", "DTR", "BrgSource", "DpllCmd",
                        "SdlcDmaReadMultipleFrames", "Echo"};
  for (const char* key : keys) {
    SCOPED_TRACE(key);
    EXPECT_EQ(Apply(key, "7\n"), 1);
    ExpectOnly(0, 0, 0);
    ExpectOptionsZero();
  }
}

TEST_F(ConfigBlockTest, OptionKeysWriteTheTesterOptions) {
  TesterOptions& o = options_;
  EXPECT_EQ(Apply("OverlapWrite", "1\n"), 1);
  EXPECT_EQ(Apply("OverlapRead", "2\n"), 1);
  EXPECT_EQ(Apply("OverlapIoctl", "3\n"), 1);
  EXPECT_EQ(Apply("IoctlIndex", "-4\n"), 1);
  EXPECT_EQ(Apply("NumberOverlap", "99999999999\n"), 1);
  EXPECT_EQ(Apply("StripSyncIdle", "6"), 1);
  EXPECT_EQ(o.OverlapWrite.load(), 1);
  EXPECT_EQ(o.OverlapRead.load(), 2);
  EXPECT_EQ(o.OverlapIoctl.load(), 3);
  EXPECT_EQ(o.IoctlIndex.load(), -4);
  EXPECT_EQ(o.NumberOverlap.load(), 1215752191);
  EXPECT_EQ(o.StripSyncIdle.load(), 6);
  ExpectOnly(0, 0, 0);
}

// The Port dialog reads quarnex.cfg into a block of its own: every key must
// land where a run's read puts it, and nothing may reach the run's block or
// options.
TEST_F(ConfigBlockTest, ApplyingToABlockOfOnesOwnWritesWhatARunWritesAndNothingElse) {
  const char* keys[] = {"Lim",
                        "Framing",
                        "ClockMode",
                        "RxCharacterSize",
                        "TxCharacterSize",
                        "Parity",
                        "RTS",
                        "DTR",
                        "MergeFrames",
                        "Oscillator",
                        "RxClock",
                        "TxClock",
                        "TRxCSource",
                        "TRxCIO",
                        "BitRate",
                        "BrgSource",
                        "SyncCharacter1",
                        "SyncCharacter2",
                        "Crc",
                        "CrcPresetIO",
                        "zvlIdleSync",
                        "ClockEncoding",
                        "SdlcAddressSearchMode",
                        "SdlcAddress",
                        "DpllCmd",
                        "AutoRTSDeactivation",
                        "SdlcDmaReadMultipleFrames",
                        "SyncCharSize6Or12",
                        "InhibitSyncLoad",
                        "UseDmaRead",
                        "UseDmaWrite",
                        "Loopback",
                        "Echo",
                        "OverlapWrite",
                        "OverlapRead",
                        "OverlapIoctl",
                        "IoctlIndex",
                        "NumberOverlap",
                        "AutoDcdCts",
                        "StripSyncIdle",
                        "bitrate",
                        "Unknown"};
  for (const char* key : keys) {
    SCOPED_TRACE(key);
    std::memset(block_.bytes, kFill, kConfigBlockSize);
    Apply(key, "-123456789\n");
    DeviceConfigBlock own;
    std::memset(own.bytes, kFill, kConfigBlockSize);
    const DeviceConfigBlock run_block = block_;
    ResetOptions();
    ApplyConfigKeyToBlock(key, "-123456789\n", &own);
    EXPECT_EQ(std::memcmp(own.bytes, run_block.bytes, kConfigBlockSize), 0);
    EXPECT_EQ(std::memcmp(block_.bytes, run_block.bytes, kConfigBlockSize), 0);
    ExpectOptionsZero();
  }
}

TEST_F(ConfigBlockTest, StripSyncIdlePresetFillsThreeEntries) {
  struct PresetCase {
    uint32_t rx_character_size;
    uint8_t sync1;
    uint8_t sync2;
    uint8_t idle;
  };
  // Only the whole value selects a character: 0x101 selects none.
  const PresetCase cases[] = {
      {1, 0x16, 0x96, 0x7F}, {2, 0x16, 0x96, 0x3F},    {3, 0x16, 0x96, 0xFF}, {0, 0x16, 0x96, 0x00},
      {4, 0x00, 0x00, 0x00}, {0xFFFFFFFF, 1, 2, 0x00}, {0x101, 1, 2, 0x00},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rx_character_size);
    uint8_t* bytes = block_.bytes;
    std::memset(bytes, kFill, kConfigBlockSize);
    StoreU32(bytes, 12, c.rx_character_size);
    bytes[63] = c.sync1;
    bytes[64] = c.sync2;
    uint8_t expected[kConfigBlockSize];
    std::memcpy(expected, bytes, kConfigBlockSize);
    const uint8_t entries[15] = {c.idle, 3, 0, 0, 0, c.sync1, 3, 0, 0, 0, c.sync2, 3, 0, 0, 0};
    std::memcpy(expected + 66, entries, sizeof(entries));
    const uint8_t control[4] = {3, 0, 0, 0};
    std::memcpy(expected + 166, control, sizeof(control));

    ApplyStripSyncIdlePreset(&block_);
    for (size_t i = 0; i < kConfigBlockSize; ++i) {
      EXPECT_EQ(bytes[i], expected[i]) << "offset " << i;
    }
  }
}

TEST(BlockFieldsTest, LittleEndianAtAnyOffset) {
  DeviceConfigBlock b;
  std::memset(b.bytes, kFill, sizeof(b.bytes));
  StoreU32(b.bytes, 25, 0x11223344);
  EXPECT_EQ(b.bytes[24], kFill);
  EXPECT_EQ(b.bytes[25], 0x44);
  EXPECT_EQ(b.bytes[26], 0x33);
  EXPECT_EQ(b.bytes[27], 0x22);
  EXPECT_EQ(b.bytes[28], 0x11);
  EXPECT_EQ(b.bytes[29], kFill);
  EXPECT_EQ(LoadU32(b.bytes, 25), 0x11223344u);
  StoreU32(b.bytes, kConfigBlockSize - 4, 0xCAFEF00D);  // the last whole field
  EXPECT_EQ(LoadU32(b.bytes, kConfigBlockSize - 4), 0xCAFEF00Du);

  const uint8_t fields[] = {
      0x03, 0,    0,    0,     // 12 RxCharacterSize
      0x01, 0,    0,    0,     // 16 TxCharacterSize
      0xFF, 0xFF, 0xFF, 0xFF,  // 20 Parity
  };
  std::memcpy(b.bytes + 12, fields, sizeof(fields));
  const uint8_t bit_rate[] = {0x00, 0xFA, 0x00, 0x00};  // 42 BitRate 64000
  std::memcpy(b.bytes + 42, bit_rate, sizeof(bit_rate));
  EXPECT_EQ(BlockRxCharacterSize(b), 3);
  EXPECT_EQ(BlockTxCharacterSize(b), 1);
  EXPECT_EQ(BlockParity(b), -1);
  EXPECT_EQ(BlockBitRate(b), 64000);
}

}  // namespace
}  // namespace quarnex
