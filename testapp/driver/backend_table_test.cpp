#include "testapp/driver/backend_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testapp/driver/device_name.h"
#include "testapp/driver/recording_device.h"

namespace quarnex {
namespace {

// A backend that takes the ports `takes` says and opens each with a
// device, or fails naming itself, as `opens` says.
Backend Named(std::string name, std::function<bool(const DeviceMapEntry*)> takes, bool opens) {
  return {
      .name = name, .takes = std::move(takes), .open = [name, opens](const PortRequest& request) {
        if (opens) return OpenResult{std::make_shared<RecordingDevice>(), name, "noted"};
        return OpenResult{nullptr, name + " " + std::to_string(request.port), "refused"};
      }};
}

bool MappedToSim(const DeviceMapEntry* entry) {
  return entry != nullptr && entry->path == kSimulatedDevicePath;
}
bool Mapped(const DeviceMapEntry* entry) { return entry != nullptr; }

// The first entry that takes a port opens it, by the port's map entry; the
// tried path and the reason come back only from an open that failed.
TEST(BackendTableTest, TheFirstEntryThatTakesAPortOpensIt) {
  const BackendTable table = {Named("sim-mapped", MappedToSim, false),
                              Named("serial", Mapped, false), Named("default", nullptr, false)};
  DeviceMap map;
  PutDeviceEntry(&map, {1, "sim", false});
  PutDeviceEntry(&map, {2, "/dev/ttyUSB0", true});
  const struct {
    std::string path;
    std::string tried;
  } cases[] = {
      {DevicePath(1), "sim-mapped 1"},
      {DevicePath(2), "serial 2"},
      {DevicePath(3), "default 3"},
      // No port name: nothing tried.
      {"\\\\.\\COM1", ""},
      {"Quarnex01", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const OpenResult result = OpenFromTable(table, map, c.path);
    EXPECT_EQ(result.device, nullptr);
    EXPECT_EQ(result.tried, c.tried);
    EXPECT_EQ(result.reason, c.tried.empty() ? "" : "refused");
  }

  const BackendTable opening = {Named("opens", nullptr, true)};
  const OpenResult opened = OpenFromTable(opening, map, DevicePath(2));
  EXPECT_NE(opened.device, nullptr);
  EXPECT_EQ(opened.tried, "") << "an open that succeeds names nothing";
  EXPECT_EQ(opened.reason, "");
}

// A port no entry takes opens nothing; the entry sees the port's number,
// path and map entry.
TEST(BackendTableTest, TheEntryIsHandedThePortAndItsMapEntry) {
  const BackendTable mapped_only = {Named("serial", Mapped, true)};
  EXPECT_EQ(FindBackend(mapped_only, nullptr), nullptr);
  EXPECT_EQ(OpenFromTable(mapped_only, {}, DevicePath(4)).device, nullptr);

  PortRequest seen;
  std::string seen_path, seen_entry;
  const BackendTable table = {{.name = "spy", .open = [&](const PortRequest& request) {
                                 seen = request;
                                 seen_path = std::string(request.path);
                                 seen_entry =
                                     request.entry ? FormatDeviceEntry(*request.entry) : "";
                                 return OpenResult{};
                               }}};
  DeviceMap map;
  PutDeviceEntry(&map, {12, "/dev/ttyS0", true});
  OpenFromTable(table, map, DevicePath(12));
  EXPECT_EQ(seen.port, 12);
  EXPECT_EQ(seen_path, DevicePath(12));
  EXPECT_EQ(seen_entry, "12=/dev/ttyS0,loop");
  OpenFromTable(table, map, DevicePath(128));
  EXPECT_EQ(seen.port, 128);
  EXPECT_EQ(seen.entry, nullptr);
}

// The Port... dialog's list: every entry's devices in table order, a path
// two entries find listed once, entries without a list adding nothing.
TEST(BackendTableTest, ListsJoinInTableOrderEachPathOnce) {
  auto lists = [](std::vector<std::string> paths) {
    return [paths](const SerialRoots& roots) {
      std::vector<ListedDevice> found;
      for (const std::string& path : paths) found.push_back({path, roots.dev + path, path});
      return found;
    };
  };
  const BackendTable table = {{.name = "a", .list = lists({"/ttyUSB0", "/ttyUSB1"})},
                              {.name = "none"},
                              {.name = "b", .list = lists({"/ttyUSB1", "/ttyACM0"})}};
  std::vector<std::string> paths;
  for (const ListedDevice& device : ListFromTable(table, {"/fake", "/sys"})) {
    paths.push_back(device.path);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"/fake/ttyUSB0", "/fake/ttyUSB1", "/fake/ttyACM0"}));
}

}  // namespace
}  // namespace quarnex
