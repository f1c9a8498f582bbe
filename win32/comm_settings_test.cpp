#include "win32/comm_settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "testapp/settings/config_block.h"
#include "testapp/settings/line_block_test_util.h"
#include "win32/win32_device.h"

namespace quarnex {
namespace {

TEST(CommSettingsTest, BlockFieldsLandInTheDcb) {
  const struct {
    int32_t rate, size_code, parity;
    uint8_t auto_dcd_cts;
    DWORD baud;
    BYTE byte_size, dcb_parity;
    bool checked, cts_flow;
  } kCases[] = {
      {115200, 3, 0, 0, 115200, 8, NOPARITY, false, false},
      {9600, 0, 1, 0, 9600, 5, ODDPARITY, true, false},
      {19200, 1, 2, 1, 19200, 7, EVENPARITY, true, true},
      {38400, 2, -1, 0, 38400, 6, EVENPARITY, true, false},  // any other parity: even
      {0, 9, 0, 0, 4800, 8, NOPARITY, false, false},         // no rate keeps the port's
      {-5, 3, 0, 0, 4800, 8, NOPARITY, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.rate);
    const std::vector<uint8_t> block = LineBlock(c.rate, c.size_code, c.parity, c.auto_dcd_cts);
    LineSettings settings;
    ASSERT_TRUE(LineSettingsFromBlock(block.data(), block.size(), &settings));
    DCB dcb{};
    dcb.BaudRate = 4800;
    dcb.fOutX = TRUE;
    dcb.fAbortOnError = TRUE;
    MakeRawDcb(&dcb);
    ApplyCommSettings(settings, &dcb);
    EXPECT_EQ(dcb.BaudRate, c.baud);
    EXPECT_EQ(dcb.ByteSize, c.byte_size);
    EXPECT_EQ(dcb.Parity, c.dcb_parity);
    EXPECT_EQ(dcb.fParity != 0, c.checked);
    EXPECT_EQ(dcb.fOutxCtsFlow != 0, c.cts_flow);
    EXPECT_EQ(dcb.fRtsControl, DWORD(c.cts_flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 0u) << "an error would stall every transfer until cleared";
  }
}

TEST(Win32PathTest, PortNamesAndTheAdaptersDevices) {
  EXPECT_EQ(Win32DevicePath("COM5"), "\\\\.\\COM5");
  EXPECT_EQ(Win32DevicePath("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(Win32DevicePath("\\\\.\\COM5"), "\\\\.\\COM5");
  EXPECT_TRUE(IsAdapterDriverPath("\\\\.\\Quarnex01"));
  EXPECT_TRUE(IsAdapterDriverPath("\\\\.\\QUARNEX128"));
  EXPECT_FALSE(IsAdapterDriverPath("\\\\.\\Quarnex"));
  EXPECT_FALSE(IsAdapterDriverPath("\\\\.\\Quarnex1a"));
  EXPECT_FALSE(IsAdapterDriverPath("\\\\.\\COM5"));
}

}  // namespace
}  // namespace quarnex
