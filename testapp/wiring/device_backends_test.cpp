#include "testapp/wiring/device_backends.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "serial/pty_test_util.h"
#include "serial/tty_device.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/device_name.h"

namespace quarnex {
namespace {

class DeviceBackendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimConfigure(DefaultSimConfig());
    SetDeviceOpener(StandardDeviceOpener());
  }
  void TearDown() override {
    SetDeviceOpener(nullptr);
    SetDeviceMap({});
  }
};

TEST_F(DeviceBackendsTest, WithoutMapOrFolderEachPortIsTheSimulatedAdaptersWithPorts1To16) {
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
  // What was tried and why, for the Start to tell.
  EXPECT_EQ(TakeOpenTarget(), "simulated adapter port 17");
  EXPECT_EQ(TakeOpenProblem(), "no such port (QUARNEX_SIM)");
}

TEST_F(DeviceBackendsTest, NamesThatAreNoPortOpenNothing) {
  for (const char* path :
       {"", "\\\\.\\Quarnex1", "\\\\.\\COM1", "Quarnex01", "\\\\.\\Quarnex01 "}) {
    EXPECT_EQ(OpenDevice(path), nullptr) << path;
  }
}

TEST_F(DeviceBackendsTest, OpenIsExclusiveUntilClosed) {
  DeviceRef first = OpenDevice(DevicePath(3));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(OpenDevice(DevicePath(3)), nullptr);
  EXPECT_EQ(TakeOpenTarget(), "simulated adapter port 3");
  EXPECT_EQ(TakeOpenProblem(), "in use (already open)");
  EXPECT_NE(OpenDevice(DevicePath(4)), nullptr);  // other ports are free
  EXPECT_EQ(TakeOpenTarget(), "") << "an open that succeeds names nothing";
  first->Close();
  EXPECT_NE(OpenDevice(DevicePath(3)), nullptr);
}

TEST_F(DeviceBackendsTest, ReconfiguredAdapterServesTheNextOpen) {
  ASSERT_TRUE(SimConfigureText("ports=20-21"));
  EXPECT_EQ(OpenDevice(DevicePath(1)), nullptr);
  EXPECT_NE(OpenDevice(DevicePath(20)), nullptr);
}

// The map picks each port's device; ports it leaves out keep the default.
TEST_F(DeviceBackendsTest, TheDeviceMapNamesEachPortsDevice) {
  PtyPair plain, looped;
  ASSERT_TRUE(plain.Open());
  ASSERT_TRUE(looped.Open());
  DeviceMap map;
  PutDeviceEntry(&map, {1, plain.slave_path, false});
  PutDeviceEntry(&map, {2, "sim", false});
  PutDeviceEntry(&map, {3, looped.slave_path, true});
  PutDeviceEntry(&map, {4, "/dev/quarnex-no-such-tty", false});
  SetDeviceMap(map);

  DeviceRef tty = OpenDevice(DevicePath(1));
  ASSERT_NE(tty, nullptr);
  EXPECT_NE(dynamic_cast<TtyDevice*>(tty.get()), nullptr);
  EXPECT_EQ(TakeOpenProblem(), "");
  DeviceRef sim = OpenDevice(DevicePath(2));
  ASSERT_NE(sim, nullptr);
  EXPECT_EQ(dynamic_cast<TtyDevice*>(sim.get()), nullptr);

  // A pseudo-terminal has no UART to loop: the port is not opened, and the
  // reason is there for the run to tell.
  EXPECT_EQ(OpenDevice(DevicePath(3)), nullptr);
  EXPECT_EQ(TakeOpenProblem(), looped.slave_path + ": " + kNoInternalLoopbackText);
  EXPECT_EQ(TakeOpenTarget(), looped.slave_path);
  EXPECT_EQ(TakeOpenProblem(), "") << "taking it clears it";
  // Once the failed open let go of it, the same line opens without the flag.
  PutDeviceEntry(&map, {3, looped.slave_path, false});
  SetDeviceMap(map);
  EXPECT_NE(OpenDevice(DevicePath(3)), nullptr);

  // An unplugged device is a missing port: the mapped path, no reason.
  EXPECT_EQ(OpenDevice(DevicePath(4)), nullptr);
  EXPECT_EQ(TakeOpenProblem(), "");
  EXPECT_EQ(TakeOpenTarget(), "/dev/quarnex-no-such-tty");
  // Port 5 is not in the map: the simulated adapter's port.
  EXPECT_NE(OpenDevice(DevicePath(5)), nullptr);
  tty->Close();
  sim->Close();
}

}  // namespace
}  // namespace quarnex
