#include "testapp/driver/open_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testapp/driver/device_name.h"
#include "testapp/driver/recording_device.h"

namespace quarnex {
namespace {

// The program's backends are asked for every port, and what they tried and
// why an open failed come back with that open; without backends no port
// opens.
TEST(OpenDeviceTest, TheBackendsOpenEveryPortAndTellWhyNot) {
  std::vector<std::string> asked;
  DeviceOpener opener;
  opener.SetBackends({{.name = "fake", .open = [&asked](const PortRequest& request) {
                         asked.emplace_back(request.path);
                         return OpenResult{nullptr, "/dev/ttyS7", "in use"};
                       }}});
  const OpenResult result = opener.Open(DevicePath(1));
  EXPECT_EQ(result.device, nullptr);
  EXPECT_EQ(asked, std::vector<std::string>{DevicePath(1)});
  EXPECT_EQ(result.reason, "in use");
  EXPECT_EQ(result.tried, "/dev/ttyS7");

  DeviceOpener none;
  const OpenResult nothing = none.Open(DevicePath(1));
  EXPECT_EQ(nothing.device, nullptr);
  EXPECT_EQ(nothing.reason, "");
  EXPECT_EQ(nothing.tried, "");
}

// The map the opener holds picks the entry; a map set later applies to the
// next open, and two openers keep their own maps.
TEST(OpenDeviceTest, EachOpenerChoosesByItsOwnMap) {
  std::vector<std::string> seen;
  auto note_entry = [&seen](const PortRequest& request) {
    seen.push_back(request.entry == nullptr ? "-" : request.entry->path);
    return OpenResult{std::make_shared<RecordingDevice>(), "", ""};
  };
  DeviceOpener first, second;
  first.SetBackends({{.name = "fake", .open = note_entry}});
  second.SetBackends({{.name = "fake", .open = note_entry}});
  DeviceMap map;
  PutDeviceEntry(&map, {1, "/dev/ttyUSB0", false});
  first.SetMap(map);
  EXPECT_NE(first.Open(DevicePath(1)).device, nullptr);
  EXPECT_NE(second.Open(DevicePath(1)).device, nullptr);
  first.SetMap({});
  EXPECT_NE(first.Open(DevicePath(1)).device, nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"/dev/ttyUSB0", "-", "-"}));
  EXPECT_EQ(second.Map(), DeviceMap{});
}

}  // namespace
}  // namespace quarnex
