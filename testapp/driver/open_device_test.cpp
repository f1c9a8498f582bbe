#include "testapp/driver/open_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "testapp/driver/device_name.h"

namespace quarnex {
namespace {

class OpenDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimConfigure(DefaultSimConfig());
    SetDeviceOpener(nullptr);
  }
  void TearDown() override { SetDeviceOpener(nullptr); }
};

TEST_F(OpenDeviceTest, DefaultBackendIsTheSimulatedAdapterWithPorts1To16) {
  for (int port = 1; port <= 16; ++port) {
    DeviceRef device = OpenDevice(DevicePath(port));
    ASSERT_NE(device, nullptr) << port;
    // A loopback plug: what the port writes, it reads back.
    const char sent[] = "frame";
    char got[16] = {};
    EXPECT_TRUE(device->Write(sent, 5, nullptr).done());
    IoStatus read = device->Read(got, sizeof(got), nullptr);
    EXPECT_TRUE(read.done());
    EXPECT_EQ(std::string(got, read.count), "frame");
    device->Close();
  }
  EXPECT_EQ(OpenDevice(DevicePath(0)), nullptr);
  EXPECT_EQ(OpenDevice(DevicePath(17)), nullptr);
}

TEST_F(OpenDeviceTest, NamesThatAreNoPortOpenNothing) {
  for (const char* path : {"", "\\\\.\\Quarnex1", "\\\\.\\COM1", "Quarnex01", "\\\\.\\Quarnex01 "}) {
    EXPECT_EQ(OpenDevice(path), nullptr) << path;
  }
}

TEST_F(OpenDeviceTest, OpenIsExclusiveUntilClosed) {
  DeviceRef first = OpenDevice(DevicePath(3));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(OpenDevice(DevicePath(3)), nullptr);
  EXPECT_NE(OpenDevice(DevicePath(4)), nullptr);  // other ports are free
  first->Close();
  EXPECT_NE(OpenDevice(DevicePath(3)), nullptr);
}

TEST_F(OpenDeviceTest, ReconfiguredAdapterServesTheNextOpen) {
  ASSERT_TRUE(SimConfigureText("ports=20-21"));
  EXPECT_EQ(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_NE(OpenDevice(DevicePath(20)), nullptr);
}

TEST_F(OpenDeviceTest, InstalledOpenerTakesOverAndEmptyRestoresDefault) {
  std::vector<std::string> asked;
  SetDeviceOpener([&asked](std::string_view path) -> DeviceRef {
    asked.emplace_back(path);
    return nullptr;
  });
  EXPECT_EQ(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_EQ(asked, std::vector<std::string>{DevicePath(1)});
  SetDeviceOpener(nullptr);
  EXPECT_NE(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
}  // namespace quarnex
