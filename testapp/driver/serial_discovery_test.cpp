#include "testapp/driver/serial_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/pty_test_util.h"

namespace quarnex {
namespace {

namespace fs = std::filesystem;
using Kind = SerialDevice::Kind;

// A fake /dev and /sys in a temporary folder. Device nodes are plain files:
// discovery never opens them.
class FakeTree {
 public:
  FakeTree() {
    fs::create_directories(Dev() / "serial" / "by-id");
    fs::create_directories(Sys() / "class" / "tty");
  }
  fs::path Dev() const { return dir_.path() / "dev"; }
  fs::path Sys() const { return dir_.path() / "sys"; }
  SerialRoots Roots() const { return {Dev().string(), Sys().string()}; }

  void Node(const std::string& name) const { std::ofstream(Dev() / name).put('\0'); }
  // ttyS<N>'s type file, as the kernel's serial core writes it.
  void UartType(const std::string& name, const std::string& type) const {
    fs::create_directories(Sys() / "class" / "tty" / name);
    std::ofstream(Sys() / "class" / "tty" / name / "type") << type;
  }
  void ById(const std::string& name, const fs::path& target) const {
    fs::create_symlink(target, Dev() / "serial" / "by-id" / name);
  }
  std::string DevPath(const std::string& name) const { return (Dev() / name).string(); }
  std::string ByIdPath(const std::string& name) const {
    return (Dev() / "serial" / "by-id" / name).string();
  }

 private:
  TempDir dir_;
};

// What a machine with two USB adapters, one modem and a few 8250 ports
// looks like, with the traps around it.
TEST(SerialDiscoveryTest, ListsLinksThenPortsWithAUartThenUsbAndAcmNodesOnce) {
  FakeTree tree;
  for (const char* node :
       {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyUSB2", "ttyACM0",
        "tty0", "tty", "ttySX", "ttyUSB", "ttyprintk", "console"}) {
    tree.Node(node);
  }
  tree.UartType("ttyS0", "4\n");
  tree.UartType("ttyS1", "0\n");  // the kernel's placeholder: no UART
  tree.UartType("ttyS3", "");     // unreadable type: not listed either
  tree.UartType("ttyS10", "4\n");
  // ttyS2 has no type file at all.
  tree.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
  tree.ById("usb-Arduino_Uno_75830-if00", "../../ttyACM0");
  tree.ById("usb-Prolific_PL2303-if00-port0", tree.Dev() / "ttyUSB2");  // an absolute link
  tree.ById("usb-Unplugged_Adapter-if00-port0", "../../ttyUSB7");       // leads nowhere
  std::ofstream(tree.Dev() / "serial" / "by-id" / "not-a-link") << "x";

  const std::vector<SerialDevice> expected = {
      {Kind::kById, tree.ByIdPath("usb-Arduino_Uno_75830-if00"), "usb-Arduino_Uno_75830-if00",
       tree.DevPath("ttyACM0")},
      {Kind::kById, tree.ByIdPath("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
       "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", tree.DevPath("ttyUSB0")},
      {Kind::kById, tree.ByIdPath("usb-Prolific_PL2303-if00-port0"),
       "usb-Prolific_PL2303-if00-port0", tree.DevPath("ttyUSB2")},
      {Kind::kUart, tree.DevPath("ttyS0"), "ttyS0", tree.DevPath("ttyS0")},
      {Kind::kUart, tree.DevPath("ttyS10"), "ttyS10", tree.DevPath("ttyS10")},
      {Kind::kUsb, tree.DevPath("ttyUSB1"), "ttyUSB1", tree.DevPath("ttyUSB1")},
  };
  EXPECT_EQ(FindSerialDevices(tree.Roots()), expected);
}

TEST(SerialDiscoveryTest, MissingFoldersGiveAnEmptyListWithoutComplaint) {
  TempDir empty;
  const SerialRoots cases[] = {
      {(empty.path() / "no-dev").string(), (empty.path() / "no-sys").string()},
      {empty.path().string(), empty.path().string()},  // no serial/by-id, no class/tty
  };
  for (const SerialRoots& roots : cases) {
    SCOPED_TRACE(roots.dev);
    EXPECT_EQ(FindSerialDevices(roots), std::vector<SerialDevice>());
  }

  // A ttyS node without /sys is a port discovery cannot vouch for.
  FakeTree tree;
  tree.Node("ttyS0");
  tree.Node("ttyACM3");
  fs::remove_all(tree.Sys());
  EXPECT_EQ(FindSerialDevices(tree.Roots()),
            (std::vector<SerialDevice>{
                {Kind::kAcm, tree.DevPath("ttyACM3"), "ttyACM3", tree.DevPath("ttyACM3")}}));
}

TEST(SerialDiscoveryTest, APathIsPresentWhileItLeadsToSomething) {
  FakeTree tree;
  tree.Node("ttyUSB0");
  tree.ById("usb-A-if00-port0", "../../ttyUSB0");
  tree.ById("usb-B-if00-port0", "../../ttyUSB1");
  EXPECT_TRUE(SerialPathPresent(tree.DevPath("ttyUSB0")));
  EXPECT_TRUE(SerialPathPresent(tree.ByIdPath("usb-A-if00-port0")));
  EXPECT_FALSE(SerialPathPresent(tree.ByIdPath("usb-B-if00-port0")));
  EXPECT_FALSE(SerialPathPresent(tree.DevPath("ttyUSB1")));
  fs::remove(tree.Dev() / "ttyUSB0");  // unplugged: the link stays, leading nowhere
  EXPECT_FALSE(SerialPathPresent(tree.ByIdPath("usb-A-if00-port0")));
}

}  // namespace
}  // namespace quarnex
