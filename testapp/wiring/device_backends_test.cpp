#include "testapp/wiring/device_backends.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapter/simulated_adapter.h"
#include "serial/pty_test_util.h"
#include "serial/tty_device.h"
#include "serial/tty_ports.h"
#include "testapp/driver/device_map.h"
#include "testapp/driver/device_name.h"
#include "testapp/driver/open_device.h"

namespace quarnex {
namespace {

class DeviceBackendsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimConfigure(DefaultSimConfig());
    opener_.SetBackends(StandardBackends());
  }
  DeviceRef OpenDevice(std::string_view path) {
    OpenResult result = opener_.Open(path);
    tried_ = result.tried;
    reason_ = result.reason;
    return result.device;
  }

  DeviceOpener opener_;
  // What the last OpenDevice tried and why it failed.
  std::string tried_, reason_;
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
  EXPECT_EQ(tried_, "simulated adapter port 17");
  EXPECT_EQ(reason_, "no such port (QUARNEX_SIM)");
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
  EXPECT_EQ(tried_, "simulated adapter port 3");
  EXPECT_EQ(reason_, "in use (already open)");
  EXPECT_NE(OpenDevice(DevicePath(4)), nullptr);  // other ports are free
  EXPECT_EQ(tried_, "") << "an open that succeeds names nothing";
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
  opener_.SetMap(map);

  DeviceRef tty = OpenDevice(DevicePath(1));
  ASSERT_NE(tty, nullptr);
  EXPECT_NE(dynamic_cast<TtyDevice*>(tty.get()), nullptr);
  EXPECT_EQ(reason_, "");
  DeviceRef sim = OpenDevice(DevicePath(2));
  ASSERT_NE(sim, nullptr);
  EXPECT_EQ(dynamic_cast<TtyDevice*>(sim.get()), nullptr);

  // A pseudo-terminal has no UART to loop: the port is not opened, and the
  // reason is there for the run to tell.
  EXPECT_EQ(OpenDevice(DevicePath(3)), nullptr);
  EXPECT_EQ(reason_, looped.slave_path + ": " + kNoInternalLoopbackText);
  EXPECT_EQ(tried_, looped.slave_path);
  // Once the failed open let go of it, the same line opens without the flag.
  PutDeviceEntry(&map, {3, looped.slave_path, false});
  opener_.SetMap(map);
  EXPECT_NE(OpenDevice(DevicePath(3)), nullptr);

  // An unplugged device is a missing port: the mapped path, no reason.
  EXPECT_EQ(OpenDevice(DevicePath(4)), nullptr);
  EXPECT_EQ(reason_, "");
  EXPECT_EQ(tried_, "/dev/quarnex-no-such-tty");
  // Port 5 is not in the map: the simulated adapter's port.
  EXPECT_NE(OpenDevice(DevicePath(5)), nullptr);
  tty->Close();
  sim->Close();
}

// The map comes before QUARNEX_TTY_DIR's links: a port mapped to "sim" stays
// on the simulated adapter, one mapped to a device opens that device, and
// only a port the map leaves out opens its link.
TEST_F(DeviceBackendsTest, TheMapComesBeforeTheLinkFolder) {
  PtyPair linked, mapped;
  ASSERT_TRUE(linked.Open());
  ASSERT_TRUE(mapped.Open());
  TempDir links;
  // Ports 1 to 3 have links to one line: had port 1 or 2 opened its link,
  // port 3 would find the line in use.
  for (int port : {1, 2, 3}) ASSERT_TRUE(links.Link(TtyLinkName(port), linked.slave_path));
  ASSERT_TRUE(links.Link(TtyLinkName(4), "/dev/quarnex-no-such-tty"));
  DeviceMap map;
  PutDeviceEntry(&map, {1, "sim", false});
  PutDeviceEntry(&map, {2, mapped.slave_path, false});
  opener_.SetMap(map);
  ASSERT_EQ(setenv(kTtyDirVariable, links.path().c_str(), 1), 0);
  const struct {
    int port;
    bool tty;
  } cases[] = {{1, false}, {2, true}, {3, true}};
  std::vector<DeviceRef> open;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    DeviceRef device = OpenDevice(DevicePath(c.port));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(dynamic_cast<TtyDevice*>(device.get()) != nullptr, c.tty);
    open.push_back(device);
  }
  // A dangling link is a missing port: its link named, no reason.
  EXPECT_EQ(OpenDevice(DevicePath(4)), nullptr);
  EXPECT_EQ(reason_, "");
  EXPECT_EQ(tried_, links.path().string() + "/Quarnex04");
  unsetenv(kTtyDirVariable);
  for (const DeviceRef& device : open) device->Close();
}

// The Port... dialog's list is what the table's serial entry finds.
TEST_F(DeviceBackendsTest, ThePortDialogListsTheSerialDevicesFound) {
  TempDir root;
  std::filesystem::create_directories(root.path() / "dev");
  for (const char* node : {"ttyUSB1", "ttyACM0", "null"}) {
    std::ofstream(root.path() / "dev" / node) << "";
  }
  std::vector<std::string> paths;
  for (const ListedDevice& device :
       opener_.List({(root.path() / "dev").string(), (root.path() / "sys").string()})) {
    paths.push_back(device.path);
  }
  const std::string dev = (root.path() / "dev").string();
  EXPECT_EQ(paths, (std::vector<std::string>{dev + "/ttyUSB1", dev + "/ttyACM0"}));
}

}  // namespace
}  // namespace quarnex
