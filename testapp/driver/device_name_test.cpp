#include "testapp/driver/device_name.h"

#include <gtest/gtest.h>

#include "testapp/driver/control_codes.h"

namespace quarnex {
namespace {

TEST(DevicePathTest, NumberHasAtLeastTwoDigits) {
  const struct {
    int port;
    const char* path;
  } kCases[] = {
      {1, "\\\\.\\Quarnex01"},  {9, "\\\\.\\Quarnex09"},    {10, "\\\\.\\Quarnex10"},
      {99, "\\\\.\\Quarnex99"}, {128, "\\\\.\\Quarnex128"}, {0, "\\\\.\\Quarnex00"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DevicePath(c.port), c.path) << c.port;
    int parsed = -1;
    EXPECT_TRUE(ParseDevicePath(c.path, &parsed)) << c.path;
    EXPECT_EQ(parsed, c.port);
  }
  EXPECT_EQ(DevicePath(1).size(), 13u);  // the text \\.\Quarnex01
}

TEST(DevicePathTest, ParseRejectsOtherNames) {
  const char* kBad[] = {
      "",
      "\\\\.\\Quarnex",
      "\\\\.\\Quarnex1",
      "\\\\.\\Quarnex-1",
      "\\\\.\\Quarnex+12",
      "Quarnex01",
      "\\\\.\\quarnex01",
      "\\\\.\\Quarnex01x",
      "\\\\.\\Quarnex 01",
      "\\\\.\\COM01",
      "\\\\.\\Quarnex99999999999999",
  };
  for (const char* path : kBad) {
    int parsed = 42;
    EXPECT_FALSE(ParseDevicePath(path, &parsed)) << path;
    EXPECT_EQ(parsed, 42) << path;
  }
}

TEST(ControlCodesTest, EveryRequestHasItsListedCode) {
  const struct {
    uint32_t n;
    uint32_t code;
  } kCases[] = {
      {0, 0x80002000},  {1, 0x80002004},  {2, 0x80006008},  {3, 0x8000A00C},  {4, 0x80002010},
      {5, 0x80002014},  {6, 0x80002018},  {7, 0x8000201C},  {8, 0x80002020},  {9, 0x80002024},
      {10, 0x80002028}, {11, 0x8000202C}, {12, 0x80002030}, {13, 0x80002034}, {14, 0x80002038},
      {15, 0x8000203C}, {16, 0x80002040}, {17, 0x80002044}, {18, 0x80002048}, {19, 0x8000204C},
      {20, 0x80002050}, {21, 0x80002054}, {22, 0x80002058}, {23, 0x8000205C}, {24, 0x80002060},
      {25, 0x80002064}, {26, 0x80002068}, {27, 0x8000206C}, {28, 0x80002070}, {29, 0x80002074},
  };
  for (const auto& c : kCases) EXPECT_EQ(AdapterRequest(c.n), c.code) << "n = " << c.n;
  EXPECT_EQ(kIoctlSetConfiguration, AdapterRequest(0));
  EXPECT_EQ(kIoctlSetTwoValues, AdapterRequest(21));
  EXPECT_EQ(kIoctlSetDtr, AdapterRequest(24));
  EXPECT_EQ(kIoctlClearDtr, AdapterRequest(25));
  EXPECT_EQ(kIoctlSetRts, AdapterRequest(26));
  EXPECT_EQ(kIoctlClearRts, AdapterRequest(27));
  EXPECT_EQ(kIoctlGetCts, AdapterRequest(28));
  EXPECT_EQ(kIoctlGetDcd, AdapterRequest(29));
}

}  // namespace
}  // namespace quarnex
