#include "testapp/driver/device_map.h"

#include <gtest/gtest.h>

#include <string>

namespace quarnex {
namespace {

TEST(DeviceMapTest, EntriesReadBackAsWritten) {
  struct Case {
    const char* text;
    DeviceMapEntry entry;
  };
  const Case cases[] = {
      {"1=/dev/ttyUSB0", {1, "/dev/ttyUSB0", false}},
      {"12=/dev/ttyS0,loop", {12, "/dev/ttyS0", true}},
      {"0=sim", {0, "sim", false}},
      {"999=/dev/serial/by-id/usb-Hub_8-port_A1-if03-port0",
       {999, "/dev/serial/by-id/usb-Hub_8-port_A1-if03-port0", false}},
      // The first "=" ends the port number; the path keeps any later one.
      {"3=/tmp/a=b", {3, "/tmp/a=b", false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceMapEntry entry;
    std::string error;
    ASSERT_TRUE(ParseDeviceEntry(c.text, &entry, &error)) << error;
    EXPECT_EQ(entry, c.entry);
    EXPECT_EQ(FormatDeviceEntry(entry), c.text);
  }
}

TEST(DeviceMapTest, BadEntriesSayWhatIsWrong) {
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"/dev/ttyUSB0", "expected N=PATH"},
      {"=/dev/ttyUSB0", "expected a port number 0 to 999 before '='"},
      {"1000=/dev/ttyUSB0", "expected a port number 0 to 999 before '='"},
      {"-1=/dev/ttyUSB0", "expected a port number 0 to 999 before '='"},
      {"+1=/dev/ttyUSB0", "expected a port number 0 to 999 before '='"},
      {"1x=/dev/ttyUSB0", "expected a port number 0 to 999 before '='"},
      {"1=", "expected a device path after '='"},
      {"1=,loop", "expected a device path after '='"},
      {"1=/dev/tty\x1b[2J", "the device path holds a control character"},
      {"1=/" + std::string(4095, 'x'), "the device path is longer than 4095 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    DeviceMapEntry entry{7, "kept", true};
    std::string error;
    EXPECT_FALSE(ParseDeviceEntry(c.text, &entry, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(entry, (DeviceMapEntry{7, "kept", true})) << "a bad entry changes nothing";
  }
}

TEST(DeviceMapTest, APortHasOneEntryAndTheMapStaysInOrder) {
  DeviceMap map;
  PutDeviceEntry(&map, {5, "/dev/ttyUSB1", false});
  PutDeviceEntry(&map, {2, "/dev/ttyUSB0", false});
  PutDeviceEntry(&map, {5, "/dev/ttyS1", true});
  ASSERT_EQ(map.entries.size(), 2u);
  EXPECT_EQ(map.entries[0].port, 2);
  EXPECT_EQ(map.entries[1], (DeviceMapEntry{5, "/dev/ttyS1", true}));
  ASSERT_NE(FindDeviceEntry(map, 5), nullptr);
  EXPECT_EQ(FindDeviceEntry(map, 5)->path, "/dev/ttyS1");
  EXPECT_EQ(FindDeviceEntry(map, 3), nullptr);
  EXPECT_EQ(FormatDeviceMap(map), "2=/dev/ttyUSB0\n5=/dev/ttyS1,loop\n");
  EXPECT_EQ(ParseDeviceMap(FormatDeviceMap(map)), map);
}

// A damaged store keeps what it can and never grows the map past one entry
// per port.
TEST(DeviceMapTest, AStoredMapSkipsDamagedLines) {
  const DeviceMap map =
      ParseDeviceMap("1=/dev/ttyUSB0\ngarbage\n\n1000=/dev/x\n2=sim\n1=/dev/ttyUSB9,loop");
  ASSERT_EQ(map.entries.size(), 2u);
  EXPECT_EQ(map.entries[0], (DeviceMapEntry{1, "/dev/ttyUSB9", true}));
  EXPECT_EQ(map.entries[1], (DeviceMapEntry{2, "sim", false}));

  std::string many;
  for (int i = 0; i < 5000; ++i)
    many += std::to_string(i % 1000) + "=/dev/ttyUSB" + std::to_string(i) + "\n";
  const DeviceMap bounded = ParseDeviceMap(many);
  EXPECT_EQ(bounded.entries.size(), 1000u);
  EXPECT_EQ(FindDeviceEntry(bounded, 999)->path, "/dev/ttyUSB999");
}

}  // namespace
}  // namespace quarnex
