#include "testapp/settings/device_map_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testapp/settings/memory_store.h"

namespace quarnex {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

DeviceMap MapOf(std::vector<DeviceMapEntry> entries) {
  DeviceMap map;
  for (DeviceMapEntry& entry : entries) PutDeviceEntry(&map, std::move(entry));
  return map;
}

TEST(DeviceMapStore, TheMapIsOneValueOfItsOwnAndReadsBackAsStored) {
  MemoryStore store;
  store.PutU32("Left", 30);
  const DeviceMap map = MapOf({{1, "/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0", true},
                               {12, "/dev/pts/3", false},
                               {999, "/tmp/a b=c", false}});
  ASSERT_TRUE(SaveDeviceMap(store, map));
  EXPECT_EQ(store.writes(), std::vector<std::string>{"DeviceMap"});
  std::vector<uint8_t> stored;
  ASSERT_TRUE(store.GetBinary("DeviceMap", &stored));
  EXPECT_EQ(stored, Bytes("1=/dev/serial/by-id/usb-FTDI_A50285BI-if00-port0,loop\n"
                          "12=/dev/pts/3\n999=/tmp/a b=c\n"));
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(store)), FormatDeviceMap(map));
  uint32_t left = 0;
  EXPECT_TRUE(store.GetU32("Left", &left) && left == 30);

  // An empty map is stored as an empty value, not left as it was.
  ASSERT_TRUE(SaveDeviceMap(store, {}));
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(store)), FormatDeviceMap(DeviceMap{}));
  store.SetAvailable(false);
  EXPECT_FALSE(SaveDeviceMap(store, map));
}

TEST(DeviceMapStore, ADamagedOrMissingValueGivesWhatCanBeRead) {
  const DeviceMap two = MapOf({{1, "/dev/ttyUSB0", false}, {3, "/dev/pts/2", true}});
  const struct {
    const char* name;
    std::string value;
    DeviceMap map;
  } cases[] = {
      {"bad lines skipped", "1=/dev/ttyUSB0\ngarbage\n2=\n1000=/dev/ttyS0\n3=/dev/pts/2,loop\n",
       two},
      {"no final line feed", "1=/dev/ttyUSB0\n3=/dev/pts/2,loop", two},
      {"binary noise", std::string("\x00\xff\n=\n\x01=x", 8), {}},
      {"empty", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.PutBinary("DeviceMap", Bytes(c.value));
    EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(store)), FormatDeviceMap(c.map));
  }

  MemoryStore missing;
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(missing)), FormatDeviceMap(DeviceMap{}));
  MemoryStore number;
  number.PutU32("DeviceMap", 7);
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(number)), FormatDeviceMap(DeviceMap{}));
  MemoryStore unavailable;
  unavailable.PutBinary("DeviceMap", Bytes("1=/dev/ttyUSB0\n"));
  unavailable.SetAvailable(false);
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(unavailable)), FormatDeviceMap(DeviceMap{}));
}

// A value longer than any map is read only as far as whole lines go: the
// line the cut falls in would otherwise read as a shorter path.
TEST(DeviceMapStore, AnOverlongValueLosesTheLineItIsCutIn) {
  std::string value = "1=/dev/ttyUSB0\n";
  const std::string last = "2=/dev/ttyUSB10\n";
  constexpr size_t kKeptOfLast = 14;  // "2=/dev/ttyUSB1"
  const size_t last_starts = kMaxStoredDeviceMapSize - kKeptOfLast;
  // Few long lines of noise, so the map's line limit is not what ends it.
  constexpr size_t kNoiseLine = 100000;
  while (value.size() + kNoiseLine + 1 < last_starts) value += std::string(kNoiseLine, '#') + "\n";
  value += std::string(last_starts - value.size() - 1, '#') + "\n";
  value += last;
  ASSERT_EQ(value.size(), kMaxStoredDeviceMapSize + last.size() - kKeptOfLast);

  MemoryStore store;
  store.PutBinary("DeviceMap", Bytes(value));
  EXPECT_EQ(FormatDeviceMap(LoadDeviceMap(store)),
            FormatDeviceMap(MapOf({{1, "/dev/ttyUSB0", false}})));
}

}  // namespace
}  // namespace quarnex
