#include "testapp/settings/configure_port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testapp/driver/control_codes.h"
#include "testapp/driver/recording_device.h"
#include "testapp/platform/posix_test_compat.h"
#include "testapp/platform/regular_file.h"
#include "testapp/platform/test_support.h"
#include "testapp/settings/config_block.h"

namespace quarnex {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kTwoValues = {0xE8, 0x03, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00};

// Runs each test in a fresh temporary folder (the configuration file is
// looked up in the current directory) with cleared block and options.
class ConfigurePortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(work_.entered()); }
  static void WriteFile(const char* name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
  }
  // A Start's configuration of one port: the file, then the requests.
  // Returns the reason when the file could not be read, else "".
  std::string Configure(RecordingDevice* device, const char* file = kConfigFileName) {
    std::string reason;
    if (LoadConfigFile(file, {}, block_, options_, &reason)) reason.clear();
    EXPECT_EQ(ConfigurePort(device, block_), 1);
    return reason;
  }
  // Expects exactly the two synchronous requests: the block, then the two
  // values.
  static void ExpectSent(const RecordingDevice& device, const Bytes& block) {
    const std::vector<RecordingDevice::Request> requests = device.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].op, RecordingDevice::Op::kControl);
    EXPECT_EQ(requests[0].code, 0x80002000u);
    EXPECT_EQ(requests[0].length, 0u);
    EXPECT_FALSE(requests[0].overlapped);
    ASSERT_EQ(requests[0].input.size(), kConfigBlockSize);
    for (size_t i = 0; i < kConfigBlockSize; ++i) {
      EXPECT_EQ(requests[0].input[i], block[i]) << "offset " << i;
    }
    EXPECT_EQ(requests[1].op, RecordingDevice::Op::kControl);
    EXPECT_EQ(requests[1].code, 0x80002054u);
    EXPECT_EQ(requests[1].length, 0u);
    EXPECT_FALSE(requests[1].overlapped);
    EXPECT_EQ(requests[1].input, kTwoValues);
  }
  // The block image after only the preset ran over a zero block with
  // RxCharacterSize 0 and no sync characters.
  static Bytes PresetOnlyBlock() {
    Bytes block(kConfigBlockSize, 0);
    block[67] = block[72] = block[77] = 3;
    block[166] = 3;
    return block;
  }

  TempWorkFolder work_{"configure_port_test."};
  // What a run would configure its ports with; zero at the start.
  DeviceConfigBlock block_{};
  TesterOptions options_;
};

TEST_F(ConfigurePortTest, AllKeysBuildTheExpectedImage) {
  WriteFile("quarnex.cfg",
            "Lim=305419896\n"
            "Framing=2\n"
            "ClockMode=3\n"
            "RxCharacterSize=3\n"
            "TxCharacterSize=1\n"
            "Parity=-1\n"
            "RTS=1\n"
            "DTR=1\n"
            "MergeFrames=258\n"
            "Oscillator=14745600\n"
            "RxClock=65537\n"
            "TxClock=-2\n"
            "TRxCSource=256\n"
            "TRxCIO=511\n"
            "BitRate=64000\n"
            "BrgSource=1\n"
            "SyncCharacter1=278\n"
            "SyncCharacter2=-106\n"
            "Crc=4\n"
            "CrcPresetIO=9\n"
            "zvlIdleSync=5\n"
            "ClockEncoding=6\n"
            "SdlcAddressSearchMode=7\n"
            "SdlcAddress=257\n"
            "DpllCmd=1\n"
            "AutoRTSDeactivation=10\n"
            "SdlcDmaReadMultipleFrames=1\n"
            "SyncCharSize6Or12=11\n"
            "InhibitSyncLoad=12\n"
            "UseDmaRead=13\n"
            "UseDmaWrite=14\n"
            "Loopback=-3\n"
            "Echo=1\n"
            "OverlapWrite=21\n"
            "OverlapRead=22\n"
            "OverlapIoctl=23\n"
            "IoctlIndex=24\n"
            "NumberOverlap=-25\n"
            "AutoDcdCts=300\n"
            "StripSyncIdle=1\n");
  // Written out by hand from the field table, 16 bytes a row.
  // clang-format off
  const uint8_t kExpected[kConfigBlockSize] = {
      // 0: reserved, Lim 0x12345678, Framing 2, RxCharacterSize 3
      0x00, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
      // 16: TxCharacterSize 1, Parity -1, AutoDcdCts 0x2C, Oscillator 0xE10000, RxClock 0x10001...
      0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x2C, 0x00, 0x00, 0xE1, 0x00, 0x01, 0x00, 0x01,
      // 32: ...RxClock, TxClock -2, TRxCSource 256, TRxCIO 0xFF, BitRate 64000, ClockEncoding 6...
      0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0xFF, 0x00, 0xFA, 0x00, 0x00, 0x06, 0x00,
      // 48: ...ClockEncoding, Crc 4, CrcPresetIO 9, zvlIdleSync 5, SdlcAddressSearchMode 7,
      //     SdlcAddress 1, AutoRTSDeactivation 10, SyncCharSize6Or12 11, SyncCharacter1 0x16
      0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x09, 0x05, 0x07, 0x00, 0x00, 0x00, 0x01, 0x0A, 0x0B, 0x16,
      // 64: SyncCharacter2 0x96, InhibitSyncLoad 12, strip entries {0xFF,3} {0x16,3} {0x96,3...
      0x96, 0x0C, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x16, 0x03, 0x00, 0x00, 0x00, 0x96, 0x03, 0x00, 0x00,
      // 80: ...}, the other 17 strip entries
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 96
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 112
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 128
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 144
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 160: strip entries, StripTableControl 3 at 166, reserved from 170
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 176
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 192: MergeFrames 2 at 194, UseDmaRead 13, UseDmaWrite 14, Loopback 0xFD, reserved from 198
      0x00, 0x00, 0x02, 0x0D, 0x0E, 0xFD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 208
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 224
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 240
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 256
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 272
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 288
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 304
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 320
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      // 336
      0x00, 0x00,
  };
  // clang-format on
  RecordingDevice device;
  EXPECT_EQ(Configure(&device), "");
  ExpectSent(device, Bytes(kExpected, kExpected + kConfigBlockSize));

  const TesterOptions& o = options_;
  EXPECT_EQ(o.OverlapWrite.load(), 21);
  EXPECT_EQ(o.OverlapRead.load(), 22);
  EXPECT_EQ(o.OverlapIoctl.load(), 23);
  EXPECT_EQ(o.IoctlIndex.load(), 24);
  EXPECT_EQ(o.NumberOverlap.load(), -25);
  EXPECT_EQ(o.StripSyncIdle.load(), 1);
  // The run controller reads these back right afterwards.
  EXPECT_EQ(BlockTxCharacterSize(block_), 1);
  EXPECT_EQ(BlockParity(block_), -1);
  EXPECT_EQ(BlockBitRate(block_), 64000);
}

TEST_F(ConfigurePortTest, FileThatCannotBeReadStillSendsAZeroBlock) {
  ASSERT_EQ(mkdir("folder.cfg", 0700), 0);
  for (const char* file : {kConfigFileName, "folder.cfg"}) {
    SCOPED_TRACE(file);
    RecordingDevice device;
    EXPECT_NE(Configure(&device, file), "");
    ExpectSent(device, Bytes(kConfigBlockSize, 0));
  }
  EXPECT_EQ(ConfigFileNotice(kConfigFileName), "quarnex.cfg file not found");
  EXPECT_EQ(ConfigFileDetail(kConfigFileName, kReasonNotRegular),
            "quarnex.cfg: not a regular file");
  // A deep path is named whole.
  const std::string deep = "/lab/" + std::string(300, 'd') + "/quarnex.cfg";
  EXPECT_EQ(ConfigFileDetail(deep.c_str(), kReasonNoSuchFile), deep + ": no such file");
}

TEST_F(ConfigurePortTest, RejectedRequestsAreIgnored) {
  WriteFile("quarnex.cfg", "Lim=5\n");
  Bytes block(kConfigBlockSize, 0);
  block[4] = 5;
  {
    RecordingDevice device;
    RecordingDevice::Answer fail;
    fail.kind = RecordingDevice::Answer::kFail;
    fail.error = kErrorGenFailure;
    device.Script(RecordingDevice::Op::kControl, fail);
    device.Script(RecordingDevice::Op::kControl, fail);
    EXPECT_EQ(Configure(&device), "");
    ExpectSent(device, block);
  }
  {
    RecordingDevice device;
    device.Close();
    EXPECT_EQ(Configure(&device), "");
    ExpectSent(device, block);
  }
}

TEST_F(ConfigurePortTest, BlockIsRebuiltButOptionsAreKept) {
  WriteFile("quarnex.cfg", "Lim=5\nIoctlIndex=5\nStripSyncIdle=1\nSyncCharacter1=22\n");
  {
    RecordingDevice device;
    Configure(&device);
    Bytes block = PresetOnlyBlock();
    block[4] = 5;
    block[63] = block[71] = 0x16;
    ExpectSent(device, block);
  }
  // Absent keys: the block forgets them, the options do not.
  WriteFile("quarnex.cfg", "Lim=7\n");
  {
    RecordingDevice device;
    Configure(&device);
    Bytes block = PresetOnlyBlock();
    block[4] = 7;
    ExpectSent(device, block);
    EXPECT_EQ(options_.IoctlIndex.load(), 5);
  }
  // No file at all: the kept option still applies the preset.
  std::filesystem::remove("quarnex.cfg");
  {
    RecordingDevice device;
    EXPECT_EQ(Configure(&device), kReasonNoSuchFile);
    ExpectSent(device, PresetOnlyBlock());
    EXPECT_EQ(options_.IoctlIndex.load(), 5);
  }
  WriteFile("quarnex.cfg", "IoctlIndex=0\nStripSyncIdle=0\n");
  {
    RecordingDevice device;
    Configure(&device);
    ExpectSent(device, Bytes(kConfigBlockSize, 0));
    EXPECT_EQ(options_.IoctlIndex.load(), 0);
  }
}

// Entries given beside the file apply over it, also when it is missing,
// before the preset; cleared, they apply no more.
TEST_F(ConfigurePortTest, OverridesApplyOverTheFile) {
  WriteFile("quarnex.cfg", "Lim=5\nBitRate=9600\n");
  const ConfigOverrides overrides = {{"BitRate", "921600"}, {"Lim", "7"}};
  std::string reason;
  EXPECT_TRUE(LoadConfigFile(kConfigFileName, overrides, block_, options_, &reason));
  EXPECT_EQ(BlockBitRate(block_), 921600);
  EXPECT_EQ(block_.bytes[block::kLim], 7);
  EXPECT_FALSE(LoadConfigFile("absent.cfg", overrides, block_, options_, &reason));
  EXPECT_EQ(BlockBitRate(block_), 921600);
  EXPECT_TRUE(LoadConfigFile(kConfigFileName, {}, block_, options_, &reason));
  EXPECT_EQ(BlockBitRate(block_), 9600);
}

// The file keeps its lenient reading; each line that relied on it is named
// once, with what its destination received. Clean lines, blanks around the
// digits included, and the ignored keys say nothing.
TEST_F(ConfigurePortTest, ValuesThatAreNotCleanNumbersAreReadAsBeforeAndNamed) {
  WriteFile("quarnex.cfg",
            "BitRate=1e6\n"
            "Lim= 5 \r\n"
            "SyncCharacter1=0x16\n"
            "SdlcAddress=257\n"
            "Parity=-1\n"
            "Crc=99999999999\n"
            "NumberOverlap=abc\n"
            "ClockMode=abc\n"
            "UseDmaRead=255\n"
            "Framing=\n");
  std::string reason;
  std::vector<std::string> warnings;
  ASSERT_TRUE(LoadConfigFile(kConfigFileName, {}, block_, options_, &reason, &warnings));
  EXPECT_EQ(BlockBitRate(block_), 1);
  EXPECT_EQ(block_.bytes[block::kLim], 5);
  EXPECT_EQ(block_.bytes[block::kSdlcAddress], 1);
  EXPECT_EQ(BlockParity(block_), -1);
  const std::vector<std::string> expected = {
      "quarnex.cfg: BitRate=1e6 is not a whole number from 0 to 2147483647; "
      "the block received 1",
      "quarnex.cfg: SyncCharacter1=0x16 is not a whole number from 0 to 255; "
      "the block received 0",
      "quarnex.cfg: SdlcAddress=257 is not a whole number from 0 to 255; the block received 1",
      "quarnex.cfg: Parity=-1 is not a whole number from 0 to 2147483647; "
      "the block received -1",
      "quarnex.cfg: Crc=99999999999 is not a whole number from 0 to 2147483647; "
      "the block received 1215752191",
      "quarnex.cfg: NumberOverlap=abc is not a whole number from 0 to 2147483647; "
      "the option received 0",
      "quarnex.cfg: Framing= is not a whole number from 0 to 2147483647; "
      "the block received 0",
  };
  EXPECT_EQ(warnings, expected);
  // A hostile value is quoted cut and without its control characters.
  WriteFile("quarnex.cfg", "BitRate=\x1b[2J" + std::string(85, '9') + "\n");
  warnings.clear();
  ASSERT_TRUE(LoadConfigFile(kConfigFileName, {}, block_, options_, &reason, &warnings));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].find('\x1b'), std::string::npos) << warnings[0];
  EXPECT_LT(warnings[0].size(), 200u) << warnings[0];
}

TEST_F(ConfigurePortTest, PresetRunsAfterTheWholeFileAndTheLastValueWins) {
  WriteFile("quarnex.cfg", "Lim=1\n");
  WriteFile("other.cfg",
            "SyncCharacter1=1\r\nStripSyncIdle=1\r\nRxCharacterSize=2\r\n"
            "SyncCharacter1=33\r\nLim=9\r\nLim=10\r\n");
  RecordingDevice device;
  EXPECT_EQ(Configure(&device, "other.cfg"), "");
  Bytes block = PresetOnlyBlock();
  block[4] = 10;
  block[12] = 2;
  block[63] = 33;
  block[66] = 0x3F;
  block[71] = 33;
  ExpectSent(device, block);
}

}  // namespace
}  // namespace quarnex
